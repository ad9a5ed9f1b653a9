#include "glibsessionbus.h"

#ifdef VOSTAN_HAVE_GIO
#include <gio/gio.h>
#endif

void keepGlibSessionBusFromEndingProcess()
{
#ifdef VOSTAN_HAVE_GIO
    static GDBusConnection *const shared = [] {
        // The shared connection lives as long as someone holds it; this
        // reference, never given back, keeps the one set here the one all
        // later users get.
        GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (bus)
            g_dbus_connection_set_exit_on_close(bus, FALSE);
        return bus;
    }();
    (void)shared;
#endif
}
