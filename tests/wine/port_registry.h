#pragma once

namespace lintrel::testing {

// The device map with a Bluetooth modem entry, and the Bluetooth stack's keys for one
// paired scanner whose local service carries a model number: its port is COM7.
inline constexpr char kPortRegistry[] =
    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n"
    "\"\\\\Device\\\\Serial0\"=\"COM1\"\r\n"
    "\"\\\\Device\\\\Serial1\"=\"COM10\"\r\n"
    "\"\\\\Device\\\\BthModem0\"=\"COM9\"\r\n"
    "\"\\\\Device\\\\Serial2\"=\"COM2\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\BTHMODEM\\Enum]\r\n"
    "\"0\"=\"BTHENUM\\\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&000F\\\\7&1A2B3C4D&0&0011223344AA_"
    "C00000000\"\r\n"
    "\"1\"=\"BTHENUM\\\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0000\\\\7&5E6F7A8B&0&000000000000_"
    "C00000000\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\BTHPORT\\Parameters\\LocalServices\\"
    "{00001101-0000-1000-8000-00805F9B34FB}\\0]\r\n"
    "\"AssocBdAddr\"=hex:aa,44,33,22,11,00\r\n"
    "\"ServiceName\"=\"Scanner 8520 SPP\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_"
    "LOCALMFG&000F\\7&1A2B3C4D&0&0011223344AA_C00000000\\Device Parameters]\r\n"
    "\"PortName\"=\"COM7\"\r\n";

}  // namespace lintrel::testing
