#include "ui/tab_library.h"

#include "app/settings.h"

TabLibraryBinding TabLibrary;
int TabClassesRegistered;

// Resolves one entry; 0 when the library lacks it.
template <typename Entry> static int Resolve(Entry *entry, const char *name) {
    *entry = (Entry)(void *)GetProcAddress(TabLibrary.Library, name);
    return *entry != NULL;
}

static int ResolveAll() {
    return Resolve(&TabLibrary.RegisterApp, "SftTabs_RegisterApp") &&
           Resolve(&TabLibrary.UnregisterApp, "SftTabs_UnregisterApp") &&
           Resolve(&TabLibrary.ActivatePage, "SftTabs_ActivatePage") &&
           Resolve(&TabLibrary.DeactivatePage, "SftTabs_DeactivatePage") &&
           Resolve(&TabLibrary.RegisterDialog, "SftTabs_RegisterDialog") &&
           Resolve(&TabLibrary.UnregisterDialog, "SftTabs_UnregisterDialog") &&
           Resolve(&TabLibrary.IsRegisteredDialog, "SftTabs_IsRegisteredDialog") &&
           Resolve(&TabLibrary.SetPageActive, "SftTabs_SetPageActive") &&
           Resolve(&TabLibrary.HandleDialogMessage, "SftTabs_HandleDialogMessage") &&
           Resolve(&TabLibrary.Destroy, "SftTabs_Destroy");
}

int RegisterTabLibrary(HINSTANCE instance) {
    if (!TabLibrary.Library && !LoadProductLibrary(&TabLibrary.Library, "SFTTB32.dll"))
        return 0;
    if (!ResolveAll()) {
        UnregisterTabLibrary(instance);
        return 0;
    }
    TabClassesRegistered = TabLibrary.RegisterApp(instance) != 0;
    return TabClassesRegistered;
}

void UnregisterTabLibrary(HINSTANCE instance) {
    if (TabClassesRegistered)
        TabLibrary.UnregisterApp(instance);
    TabClassesRegistered = 0;
    if (TabLibrary.Library)
        FreeLibrary(TabLibrary.Library);
    TabLibrary = {};
}
