#include "sink/output/wasapi/wasapi_endpoints.h"

#include <propidl.h>
#include <propsys.h>

#include <algorithm>
#include <span>

#include "sink/output/wasapi/wasapi_format.h"

namespace tavro::sink {
namespace {

// The system's ids, written out for the same reason as the format's.
constexpr GUID kClsidDeviceEnumerator = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};
constexpr GUID kIidDeviceEnumerator = {
    0xa95664d2, 0x9614, 0x4f35, {0xa7, 0x46, 0xde, 0x8d, 0xb6, 0x36, 0x17, 0xe6}};
constexpr PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

constexpr uint32_t kPcmRates[] = {44100,  48000,  88200,  96000,  176400,
                                  192000, 352800, 384000, 705600, 768000};

std::string friendlyName(IMMDevice* device) {
  ComRef<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, store.put()))) return {};
  PROPVARIANT value;
  PropVariantInit(&value);
  std::string name;
  if (SUCCEEDED(store->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR) {
    name = utf8(value.pwszVal);
  }
  PropVariantClear(&value);
  return name;
}

std::string endpointId(IMMDevice* device) {
  wchar_t* id = nullptr;
  if (FAILED(device->GetId(&id))) return {};
  std::string text = utf8(id);
  CoTaskMemFree(id);
  return text;
}

// Each active render endpoint with its device, in the system's order.
struct Found {
  WasapiEndpoint endpoint;
  ComRef<IMMDevice> device;
};

std::vector<Found> enumerate(std::string& error) {
  ComRef<IMMDeviceEnumerator> enumerator;
  HRESULT result = CoCreateInstance(kClsidDeviceEnumerator, nullptr, CLSCTX_ALL,
                                    kIidDeviceEnumerator, enumerator.putVoid());
  if (FAILED(result)) {
    error = "the audio endpoints cannot be listed: " + hresultText(result);
    return {};
  }
  ComRef<IMMDeviceCollection> collection;
  result = enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, collection.put());
  UINT count = 0;
  if (SUCCEEDED(result)) result = collection->GetCount(&count);
  if (FAILED(result)) {
    error = "the audio endpoints cannot be listed: " + hresultText(result);
    return {};
  }
  std::vector<Found> found;
  for (UINT index = 0; index < count; ++index) {
    Found entry;
    if (FAILED(collection->Item(index, entry.device.put()))) continue;
    entry.endpoint = {friendlyName(entry.device.get()), endpointId(entry.device.get())};
    if (entry.endpoint.id.empty()) continue;
    if (entry.endpoint.name.empty()) entry.endpoint.name = entry.endpoint.id;
    found.push_back(std::move(entry));
  }
  return found;
}

std::string endpointPart(const std::string& deviceName) {
  const std::string prefix = kWasapiPrefix;
  return deviceName.compare(0, prefix.size(), prefix) == 0 ? deviceName.substr(prefix.size())
                                                           : std::string();
}

// "24/24 at 44100 96000" for each layout the endpoint takes in exclusive
// mode at some rate, as Initialize answers; or why it takes nothing.
std::vector<std::string> offerLines(IMMDevice* device) {
  std::vector<std::string> lines;
  HRESULT refusal = S_OK;
  for (const WasapiLayout& layout : wasapiLayouts()) {
    std::string rates;
    for (const uint32_t rate : kPcmRates) {
      ExclusiveStream stream;
      const HRESULT result = openExclusive(device, layout, rate, nullptr, stream);
      if (SUCCEEDED(result)) {
        rates += ' ' + std::to_string(rate);
      } else if (result != AUDCLNT_E_UNSUPPORTED_FORMAT) {
        refusal = result;
      }
    }
    if (!rates.empty()) {
      lines.push_back(std::string("PCM: ") + layout.name + " (" + sampleName(layout.sample) +
                      ") at" + rates);
    }
  }
  if (lines.empty()) {
    lines.push_back(refusal == AUDCLNT_E_DEVICE_IN_USE
                        ? std::string("PCM: none now: another program holds it in exclusive mode")
                    : FAILED(refusal) ? "PCM: none in exclusive mode: " + hresultText(refusal)
                                      : std::string("PCM: none in exclusive mode"));
  }
  lines.emplace_back("DSD native: none (DoP goes as 24-bit PCM)");
  return lines;
}

}  // namespace

std::vector<WasapiEndpoint> activeEndpoints(std::string& error) {
  std::vector<WasapiEndpoint> endpoints;
  for (Found& entry : enumerate(error)) endpoints.push_back(std::move(entry.endpoint));
  return endpoints;
}

ComRef<IMMDevice> findEndpoint(const std::string& deviceName, std::string& error) {
  const std::string wanted = endpointPart(deviceName);
  std::vector<Found> found = enumerate(error);
  if (!error.empty()) return {};
  // The id first: it names one endpoint, where two may share a name.
  auto match = std::find_if(found.begin(), found.end(),
                            [&](const Found& entry) { return entry.endpoint.id == wanted; });
  if (match == found.end()) {
    match = std::find_if(found.begin(), found.end(),
                         [&](const Found& entry) { return entry.endpoint.name == wanted; });
  }
  if (match == found.end()) {
    error = "no active WASAPI endpoint \"" + wanted + "\" (see --list-devices)";
    return {};
  }
  return std::move(match->device);
}

std::vector<std::string> wasapiDeviceNames() {
  const ComApartment apartment;
  std::string error;
  std::vector<std::string> names;
  if (!apartment.ready()) return names;
  for (const WasapiEndpoint& endpoint : activeEndpoints(error)) {
    names.push_back(kWasapiPrefix + endpoint.name);
  }
  return names;
}

void listWasapiDevices(const LinePrinter& print) {
  const ComApartment apartment;
  if (!apartment.ready()) {
    print("WASAPI: COM cannot be started to list the endpoints");
    return;
  }
  std::string error;
  std::vector<Found> found = enumerate(error);
  if (!error.empty()) print("WASAPI: " + error);
  for (Found& entry : found) {
    print(kWasapiPrefix + entry.endpoint.name + "  \"" + entry.endpoint.id + "\"");
    for (const std::string& line : offerLines(entry.device.get())) print("    " + line);
  }
}

std::string describeWasapiOffer(const std::string& deviceName) {
  const ComApartment apartment;
  if (!apartment.ready()) return "COM cannot be started to ask the endpoint";
  std::string error;
  const ComRef<IMMDevice> device = findEndpoint(deviceName, error);
  if (!device) return error;
  std::string text;
  for (const std::string& line : offerLines(device.get())) {
    text += (text.empty() ? "" : "; ") + line;
  }
  return text;
}

}  // namespace tavro::sink
