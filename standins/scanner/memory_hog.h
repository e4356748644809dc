// The out-of-memory fault: the driver takes every byte its caller's process can
// still get, as a leaking component would, and gives it all back later.
#pragma once

// Reserves the free address space, then drains the process heap. Once only
// until GiveMemoryBack.
void TakeAllMemory();
void GiveMemoryBack();
