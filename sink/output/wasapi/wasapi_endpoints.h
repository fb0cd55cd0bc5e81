#pragma once
// The system's active render endpoints as the sink names them: "WASAPI:
// <friendly name>", found again by that name or by the endpoint's id, since
// their order changes from one run to the next.
#include <mmdeviceapi.h>

#include <string>
#include <vector>

#include "sink/output/device_list.h"
#include "sink/output/wasapi/wasapi_com.h"

namespace tavro::sink {

inline constexpr char kWasapiPrefix[] = "WASAPI: ";

struct WasapiEndpoint {
  std::string name;  // the friendly name, as the control panel shows it
  std::string id;    // the system's endpoint id
};

// Every active render endpoint; empty with `error` said when there is none to
// be read. Needs COM on the calling thread.
std::vector<WasapiEndpoint> activeEndpoints(std::string& error);

// The endpoint "WASAPI: <name or id>" names; null with `error` said.
ComRef<IMMDevice> findEndpoint(const std::string& deviceName, std::string& error);

std::vector<std::string> wasapiDeviceNames();
// What each endpoint takes in exclusive mode, asked of it: as tavro-sink
// --list-devices prints.
void listWasapiDevices(const LinePrinter& print);
std::string describeWasapiOffer(const std::string& deviceName);

}  // namespace tavro::sink
