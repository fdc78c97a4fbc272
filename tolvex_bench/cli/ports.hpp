// `tolvex_cli ports`: the serial devices present and the " COM n" names that reach them.
#pragma once

#include <ostream>
#include <string>

namespace tolvex::cli {

// Lists the devices found under root (empty: the machine's own sysfs and /dev) with
// their by-id names, description, driver and the COMn names that resolve to them, then
// what COM1 to COM4 resolve to and from where. On Windows: the COM ports the system
// knows and the devices behind them (root unused). Always exit status 0.
int list_ports(std::ostream &out, const std::string &root);

}  // namespace tolvex::cli
