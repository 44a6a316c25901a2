// The machine facts of the event log: IP address, device model name and an application user agent.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace tamberlo {

namespace UABuilder {
// The first IPv4 address of utun0, en0 or pdp_ip0 (IPv6 first when `preferIPv4` is false, though
// only IPv4 text is accepted); "0.0.0.0" when there is none.
std::string getIPAddress(bool preferIPv4);
// "<interface>/ipv4" or "<interface>/ipv6" → address text of the interfaces that are up; none
// when the list cannot be read or is empty.
std::optional<std::map<std::string, std::string>> getIPAddresses();
// True for four dotted decimal groups of 0–255 (leading zeros allowed).
bool isValidatIP(const std::string& text);
// The device model name of the machine ("Mac" for x86_64); "Unknown" for anything unknown.
std::string getRealDeviceName();
// The device model name for a uname machine text.
std::string deviceNameForMachine(const std::string& machine);
// "<name> <version> (<model>; <system version>) QtNetwork/<version> Linux/<release>".
std::string getUAString();
}  // namespace UABuilder

}  // namespace tamberlo
