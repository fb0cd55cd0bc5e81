#include "sink/output/asio/asio_drivers.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <span>

#include "asio_host/installed_drivers.h"
#include "com/class_id.h"
#include "sink/output/asio/asio_carrier.h"
#include "sink/output/device_format.h"

namespace tavro::sink {

namespace {

std::string guidText(const com::Guid& id) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(id.data1), id.data2, id.data3, id.data4[0], id.data4[1],
                id.data4[2], id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
  return text;
}

bool sameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool isOurs(const asio_host::InstalledDriver& driver) {
  return sameText(driver.clsid, guidText(com::kClsidTavroDriver));
}

std::vector<asio_host::InstalledDriver> otherDrivers(std::string& error) {
  std::vector<asio_host::InstalledDriver> drivers;
  if (!asio_host::installedDrivers(drivers, error)) return {};
  drivers.erase(std::remove_if(drivers.begin(), drivers.end(), isOurs), drivers.end());
  return drivers;
}

}  // namespace

std::string asioDriverName(const std::string& deviceName) {
  const std::string prefix = kAsioPrefix;
  if (deviceName.compare(0, prefix.size(), prefix) != 0) return {};
  return deviceName.substr(prefix.size());
}

std::unique_ptr<AsioDriverHandle> AsioDriverHandle::create(const std::string& driverName,
                                                           std::string& error) {
  std::vector<asio_host::InstalledDriver> all;
  if (!asio_host::installedDrivers(all, error)) return nullptr;
  const auto entry = std::find_if(all.begin(), all.end(), [&](const asio_host::InstalledDriver& d) {
    return d.name == driverName;
  });
  if (entry == all.end()) {
    error = "no ASIO driver \"" + driverName + "\" is installed (see --list-devices)";
    return nullptr;
  }
  if (isOurs(*entry)) {
    error = "is the TAVRO Driver itself, which would feed the sink its own stream";
    return nullptr;
  }
  std::unique_ptr<AsioDriverHandle> handle(new AsioDriverHandle);
  handle->com_ = std::make_unique<asio_host::ComDriver>(*entry);
  if (handle->com_->driver() == nullptr) {
    error = "cannot create ASIO driver \"" + driverName + "\": " + handle->com_->error();
    return nullptr;
  }
  handle->driver_ = handle->com_->driver();
  // Hosts pass their main window; the sink has none, and drivers take null.
  if (handle->driver_->init(nullptr) == asio::kAsioFalse) {
    error = "ASIO driver \"" + driverName + "\" does not start: " + handle->errorText();
    return nullptr;
  }
  return handle;
}

AsioDriverHandle::~AsioDriverHandle() {
  if (driver_ == nullptr) return;
  if (buffersMade_) driver_->disposeBuffers();
  driver_->Release();
}

std::string AsioDriverHandle::errorText() {
  char text[128] = {};
  driver_->getErrorMessage(text);
  text[sizeof text - 1] = '\0';
  return text[0] != '\0' ? std::string(text) : std::string("no reason given");
}

std::vector<std::string> asioDeviceNames() {
  std::string error;
  std::vector<std::string> names;
  for (const asio_host::InstalledDriver& driver : otherDrivers(error)) {
    names.push_back(kAsioPrefix + driver.name);
  }
  return names;
}

namespace {

constexpr uint32_t kPcmRates[] = {44100,  48000,  88200,  96000,  176400,
                                  192000, 352800, 384000, 705600, 768000};
constexpr uint32_t kDopRates[] = {176400, 352800, 705600, 1411200};  // DSD64 to DSD512

std::string outputType(asio::IAsio& driver) {
  asio::AsioChannelInfo info{};
  info.channel = 0;
  info.isInput = asio::kAsioFalse;
  if (driver.getChannelInfo(&info) != asio::kAseOk) return "an undescribed sample type";
  return asioTypeName(info.type);
}

std::string rateList(asio::IAsio& driver, bool dsd) {
  std::string line;
  for (const uint32_t rate : dsd ? std::span<const uint32_t>(kDopRates)
                                 : std::span<const uint32_t>(kPcmRates)) {
    if (driver.canSampleRate(asioRate(rate, dsd)) != asio::kAseOk) continue;
    line += dsd ? " DSD" + std::to_string(64 * rate / 176400) : ' ' + std::to_string(rate);
  }
  return line.empty() ? " no rate" : line;
}

std::vector<std::string> offerLines(asio::IAsio& driver) {
  std::vector<std::string> lines{"PCM: " + outputType(driver) + " at" + rateList(driver, false)};
  asio::AsioIoFormat format{};
  format.formatType = asio::kAsioDsdFormat;
  if (driver.future(asio::kAsioCanDoIoFormat, &format) == asio::kAseSuccess &&
      driver.future(asio::kAsioSetIoFormat, &format) == asio::kAseSuccess) {
    lines.push_back("DSD native: " + outputType(driver) + " at" + rateList(driver, true));
    format.formatType = asio::kAsioPcmFormat;
    driver.future(asio::kAsioSetIoFormat, &format);
  } else {
    lines.emplace_back("DSD native: none");
  }
  return lines;
}

}  // namespace

void listAsioDevices(const LinePrinter& print) {
  std::string error;
  const std::vector<asio_host::InstalledDriver> drivers = otherDrivers(error);
  if (!error.empty()) print("ASIO: the installed drivers cannot be read: " + error);
  for (const asio_host::InstalledDriver& entry : drivers) {
    print(kAsioPrefix + entry.name + "  \"" + entry.description + "\"");
    std::string failure;
    const std::unique_ptr<AsioDriverHandle> handle = AsioDriverHandle::create(entry.name, failure);
    if (!handle) {
      print("    " + failure);
      continue;
    }
    for (const std::string& line : offerLines(handle->driver())) print("    " + line);
  }
}

std::string describeAsioOffer(const std::string& deviceName) {
  std::string failure;
  const std::unique_ptr<AsioDriverHandle> handle =
      AsioDriverHandle::create(asioDriverName(deviceName), failure);
  if (!handle) return failure;
  std::string text;
  for (const std::string& line : offerLines(handle->driver())) {
    text += (text.empty() ? "" : "; ") + line;
  }
  return text;
}

}  // namespace tavro::sink
