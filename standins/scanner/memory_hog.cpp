#include "memory_hog.h"

#include <windows.h>

namespace {

// Free address space comes in few ranges; reserved halves of them are counted here.
const int MaxRegions = 8192;
void *Regions[MaxRegions];
int RegionCount;
void *HeapBlocks; // drained heap blocks, each holding the address of the next
int Taken;

} // namespace

void TakeAllMemory() {
    if (Taken)
        return;
    Taken = 1;
    // The address space first, so that the heap cannot grow; then what the
    // heap already holds, down to its smallest blocks.
    for (SIZE_T size = (SIZE_T)1 << 30; size >= 4096 && RegionCount < MaxRegions;) {
        void *region = VirtualAlloc(NULL, size, MEM_RESERVE, PAGE_NOACCESS);
        if (region)
            Regions[RegionCount++] = region;
        else
            size /= 2;
    }
    HANDLE heap = GetProcessHeap();
    for (SIZE_T size = (SIZE_T)1 << 20; size >= sizeof(void *);) {
        void **block = (void **)HeapAlloc(heap, 0, size);
        if (block) {
            *block = HeapBlocks;
            HeapBlocks = block;
        } else {
            size /= 2;
        }
    }
}

void GiveMemoryBack() {
    HANDLE heap = GetProcessHeap();
    while (HeapBlocks) {
        void *next = *(void **)HeapBlocks;
        HeapFree(heap, 0, HeapBlocks);
        HeapBlocks = next;
    }
    while (RegionCount > 0)
        VirtualFree(Regions[--RegionCount], 0, MEM_RELEASE);
    Taken = 0;
}
