#include "sink/app/sink_arguments.h"

#include <cstdlib>
#include <cstring>

namespace tavro::sink {

const char kUsage[] =
    "usage: tavro-sink [options]\n"
    "The streamer: answers the TAVRO driver on TCP port 48168, paces each stream with\n"
    "ticks and plays it to a sound card (--device), or checks and records it.\n"
    "  --address A          IPv4 address to listen on (default 127.0.0.1; 0.0.0.0 for\n"
    "                       every network of this machine)\n"
    "  --port N             TCP and UDP port to listen on (default 48168)\n"
    "  --buffer-index N     buffer-size index in the settings reply, 0-9 (default 6)\n"
    "  --transport 1|2      1: audio on the control connection, 2: UDP (default 1)\n"
    "  --word-length N      16, 24 or 32 (default 24)\n"
    "  --shift N            right shift of every sample (default 0)\n"
    "  --drive-mode N       non-zero: removable-drive mode (default 0)\n"
    "  --interface NAME     an audio interface name; repeat for more (default with\n"
    "                       --device: every playback device, that one chosen)\n"
    "  --interface-index N  which interface is chosen, from 0 (default 0)\n"
    "  --greeting-address A address put in the greeting reply (default: --address, or\n"
    "                       with 0.0.0.0 the address the driver connects from)\n"
    "  --once               exit when the first connection ends\n"
    "  --allow NET          serve only players from NET (ADDRESS or ADDRESS/BITS, such\n"
    "                       as 192.168.1.0/24); repeat for more (default: anyone)\n"
    "  --no-takeover        refuse a player that announces a stream while another\n"
    "                       plays (\"ERROR 1\"), instead of ending the one playing\n"
    "After \"+OK\" it paces the stream with ticks and takes the packets (TCP in mode 1,\n"
    "UDP on the same port in mode 2). At each stream's end it prints one line,\n"
    "\"summary: ...\", with the packets, missing and malformed ones, wrong DoP markers,\n"
    "mismatched samples and the tick-to-packet latency.\n"
    "  --output DIR         write each stream to DIR: WAV for PCM, DSF for DoP\n"
    "  --verify             check every sample against the test signal (as tavro-play\n"
    "                       plays it), after the wire's truncation and --shift\n"
    "  --dop auto|on|off    24-bit streams at 176.4/352.8/705.6/1411.2 kHz: DoP when\n"
    "                       the first packet carries DoP markers (auto), always, never\n"
    "  --ticks N            end each stream after N ticks by closing the connection\n"
    "  --seconds S          the same, after S seconds of audio\n"
    "  --list-devices       print each playback device with the formats and rates it\n"
    "                       takes unconverted, then exit\n"
    "  --device NAME        play every stream to this device (an ALSA name such as\n"
    "                       hw:CARD=D10,DEV=0 on Linux, \"ASIO: <driver name>\" on\n"
    "                       Windows), bit-perfect and paced by it; a stream it cannot\n"
    "                       play is refused with ERROR 1, 2 or 3\n"
    "  --dsd dop|native|auto  DoP streams to the card: as DoP (default), converted to\n"
    "                       the card's native DSD format, or native when it has one\n"
    "  --buffer-packets N   the card's buffer in packets, 2 to 32 (default 4)\n"
    "  --status N           with --device, a status line every N seconds\n"
    "On Windows, --device, --transport, --word-length, --buffer-index, --buffer-packets\n"
    "and --dsd left out come from HKEY_CURRENT_USER\\Software\\TAVRO7\\Streamer (TAVRO\n"
    "Settings writes them), read again at each connection; what it says also goes to\n"
    "%LOCALAPPDATA%\\TAVRO\\tavro-sink.log.\n";

namespace {

bool readNumber(const char* text, uint32_t& out) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || value > 0xFFFFFFFFul) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

bool parseArguments(int argc, char** argv, SinkOptions& options, std::string& error,
                    CommandLineChoices* chosen) {
  CommandLineChoices unused;
  CommandLineChoices& given = chosen != nullptr ? *chosen : unused;
  bool namedInterface = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--once") {
      options.once = true;
      continue;
    }
    if (option == "--verify") {
      options.verify = true;
      continue;
    }
    if (option == "--no-takeover") {
      options.noTakeover = true;
      continue;
    }
    if (option == "--list-devices") {
      options.listDevices = true;
      continue;
    }
    if (option == "--help" || option == "-h") {
      error.clear();
      return false;
    }
    if (i + 1 >= argc) {
      error = "missing value after " + option;
      return false;
    }
    const char* value = argv[++i];
    uint32_t number = 0;
    auto numeric = [&](uint32_t& field) {
      if (!readNumber(value, number)) {
        error = "not a number after " + option + ": " + value;
        return false;
      }
      field = number;
      return true;
    };
    if (option == "--address") {
      options.address = value;
    } else if (option == "--allow") {
      AllowedNetwork network;
      if (!parseAllowedNetwork(value, network, error)) return false;
      options.allow.push_back(network);
    } else if (option == "--greeting-address") {
      options.greetingAddress = value;
    } else if (option == "--interface") {
      if (!namedInterface) options.interfaces.clear();
      namedInterface = true;
      options.interfaces.emplace_back(value);
    } else if (option == "--buffer-index") {
      given.bufferIndex = true;
      if (!numeric(options.bufferIndex)) return false;
    } else if (option == "--transport") {
      given.transport = true;
      if (!numeric(options.transport)) return false;
    } else if (option == "--word-length") {
      given.wordLength = true;
      if (!numeric(options.wordLength)) return false;
    } else if (option == "--shift") {
      if (!numeric(options.shift)) return false;
    } else if (option == "--drive-mode") {
      if (!numeric(options.driveMode)) return false;
    } else if (option == "--interface-index") {
      if (!numeric(options.interfaceIndex)) return false;
    } else if (option == "--output") {
      options.outputDir = value;
    } else if (option == "--dop") {
      const std::string mode = value;
      if (mode == "auto") {
        options.dop = DopMode::kAuto;
      } else if (mode == "on") {
        options.dop = DopMode::kOn;
      } else if (mode == "off") {
        options.dop = DopMode::kOff;
      } else {
        error = "--dop takes auto, on or off, not " + mode;
        return false;
      }
    } else if (option == "--device") {
      given.device = true;
      options.device = value;
    } else if (option == "--dsd") {
      given.dsd = true;
      const std::string mode = value;
      if (mode == "dop") {
        options.dsd = DsdOutput::kDop;
      } else if (mode == "native") {
        options.dsd = DsdOutput::kNative;
      } else if (mode == "auto") {
        options.dsd = DsdOutput::kAuto;
      } else {
        error = "--dsd takes dop, native or auto, not " + mode;
        return false;
      }
    } else if (option == "--buffer-packets") {
      given.bufferPackets = true;
      if (!numeric(options.bufferPackets)) return false;
      if (options.bufferPackets < 2 || options.bufferPackets > 32) {
        error = "--buffer-packets takes 2 to 32, not " + std::string(value);
        return false;
      }
    } else if (option == "--status") {
      if (!numeric(options.statusSeconds)) return false;
    } else if (option == "--ticks") {
      uint32_t ticks = 0;
      if (!numeric(ticks)) return false;
      options.tickLimit = ticks;
    } else if (option == "--seconds") {
      char* end = nullptr;
      const double seconds = std::strtod(value, &end);
      if (end == value || *end != '\0' || !(seconds > 0) || seconds > 1e7) {
        error = "bad number of seconds: " + std::string(value);
        return false;
      }
      options.seconds = seconds;
    } else if (option == "--port") {
      uint32_t port = 0;
      if (!numeric(port) || port == 0 || port > 65535) {
        error = "bad port: " + std::string(value);
        return false;
      }
      options.port = static_cast<uint16_t>(port);
    } else {
      error = "unknown option " + option;
      return false;
    }
  }
  // Playing to a device (named here or stored), the driver is told the
  // devices there are and which one plays, unless names were given instead.
  options.interfacesOfDevices = !namedInterface;
  return true;
}

}  // namespace tavro::sink
