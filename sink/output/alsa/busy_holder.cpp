#include "sink/output/alsa/busy_holder.h"

#include <alsa/asoundlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

namespace tavro::sink {
namespace {

struct CardDevice {
  int card;
  int device;
};

// Fields are "CARD=x,DEV=n" or positional "x,n"; the device defaults to 0.
std::optional<CardDevice> cardDevice(const std::string& name) {
  constexpr std::string_view kPrefix = "hw:";
  if (!name.starts_with(kPrefix)) return std::nullopt;
  std::string card;
  std::string device = "0";
  size_t position = 0;
  size_t at = kPrefix.size();
  while (at <= name.size()) {
    size_t end = name.find(',', at);
    if (end == std::string::npos) end = name.size();
    const std::string field = name.substr(at, end - at);
    if (field.starts_with("CARD=")) {
      card = field.substr(5);
    } else if (field.starts_with("DEV=")) {
      device = field.substr(4);
    } else if (field.find('=') == std::string::npos) {
      (position == 0 ? card : device) = field;
    }
    ++position;
    at = end + 1;
  }
  const int index = card.empty() ? -1 : snd_card_get_index(card.c_str());
  if (index < 0) return std::nullopt;
  try {
    return CardDevice{index, std::stoi(device)};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// A substream's status file reads "closed", or its state with the line
// "owner_pid   : 812" among others.
std::optional<long> ownerPid(const std::filesystem::path& status) {
  std::ifstream in(status);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.starts_with("owner_pid")) continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return std::nullopt;
    try {
      return std::stol(line.substr(colon + 1));
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::string describeProcess(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string command;
  std::getline(in, command);
  const std::string id = "pid " + std::to_string(pid);
  return command.empty() ? id : command + " (" + id + ")";
}

}  // namespace

std::string busyHolder(const std::string& name) {
  const std::optional<CardDevice> target = cardDevice(name);
  if (!target) return {};
  const std::filesystem::path pcm = "/proc/asound/card" + std::to_string(target->card) + "/pcm" +
                                    std::to_string(target->device) + "p";
  std::error_code error;
  std::set<long> pids;
  for (std::filesystem::directory_iterator entry(pcm, error), end; !error && entry != end;
       entry.increment(error)) {
    if (!entry->path().filename().string().starts_with("sub")) continue;
    if (const auto pid = ownerPid(entry->path() / "status")) pids.insert(*pid);
  }
  std::string holders;
  for (const long pid : pids) {
    if (!holders.empty()) holders += ", ";
    holders += describeProcess(pid);
  }
  return holders;
}

}  // namespace tavro::sink
