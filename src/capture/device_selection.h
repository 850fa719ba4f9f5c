// Which camera a driver string names, and what the host's device list shows:
// plain functions over the devices as they were enumerated.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The driver text that names the first device without a device path.
inline constexpr char kVirtualCameraDriver[] = "virtual video camera";

struct DeviceEntry {
  std::string path;    // empty: the device has none
  std::string name;    // friendly name, may be empty
  bool usable = true;  // its source can be instantiated
};

// The first usable device whose path (or, for one without a path, the
// virtual camera's driver text) equals `driver` byte for byte.
std::optional<std::size_t> SelectDeviceByPath(const std::vector<DeviceEntry>& devices,
                                              const std::string& driver);
std::optional<std::size_t> SelectFirstDevice(const std::vector<DeviceEntry>& devices);
// By path when `driver` names a present device, else the first usable one.
std::optional<std::size_t> SelectDevice(const std::vector<DeviceEntry>& devices,
                                        const std::string& driver);
// One line of the device list a host is shown.
struct ListedDevice {
  std::string driver;  // the device path, or the virtual camera's driver text
  std::string name;    // friendly name, may be empty
  bool operator==(const ListedDevice&) const = default;
};

// Appends every usable device; true when one was appended.
bool ListDevices(const std::vector<DeviceEntry>& devices, std::vector<ListedDevice>& list);
