#include "app/own_windows.h"

#include <xcb/xcb.h>
#include <QGuiApplication>

#include "platform/x11/x11_windows.h"

namespace vantry {

void claimOwnWindows() {
  auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return;
  const xcb_setup_t* setup = xcb_get_setup(connection);
  platform::x11::claimClient(setup->resource_id_base, setup->resource_id_mask);
}

}  // namespace vantry
