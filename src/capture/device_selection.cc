#include "capture/device_selection.h"

namespace {

const std::string& DriverText(const DeviceEntry& device) {
  static const std::string virtual_driver = kVirtualCameraDriver;
  return device.path.empty() ? virtual_driver : device.path;
}

}  // namespace

std::optional<std::size_t> SelectDeviceByPath(const std::vector<DeviceEntry>& devices,
                                              const std::string& driver) {
  for (std::size_t i = 0; i < devices.size(); ++i) {
    // A matching device that cannot be instantiated is passed over; a later
    // one of the same text may still serve.
    if (devices[i].usable && DriverText(devices[i]) == driver) {
      return i;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> SelectFirstDevice(const std::vector<DeviceEntry>& devices) {
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].usable) {
      return i;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> SelectDevice(const std::vector<DeviceEntry>& devices,
                                        const std::string& driver) {
  if (!driver.empty()) {
    if (auto found = SelectDeviceByPath(devices, driver)) {
      return found;
    }
  }
  return SelectFirstDevice(devices);
}

bool ListDevices(const std::vector<DeviceEntry>& devices, std::vector<ListedDevice>& list) {
  bool any = false;
  for (const DeviceEntry& device : devices) {
    if (device.usable) {
      list.push_back({DriverText(device), device.name});
      any = true;
    }
  }
  return any;
}
