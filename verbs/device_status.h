// The device as the verbs have read it: the device model's state, written as a readable table or
// as the JSON document that `status --json` prints and `backup` stores, read back from such a
// document, and compared value by value.
#pragma once

#include "session/device_model.h"

#include <QJsonObject>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace tavrion::verbs {

// The names of the picture properties (kPictureCodes) and of the EDID and mode settings.
constexpr std::array<const char*, 4> kPictureNames{{"brightness", "contrast", "hue", "saturation"}};
constexpr std::array<const char*, 5> kEdidNames{{"2ch", "6ch", "8ch", "bitstream", "hd"}};
constexpr std::array<const char*, 3> kModeNames{{"matrix", "dual", "tv-wall"}};

// Every value is empty until a reply reported it (or when the device refused the query). The
// network settings read as addresses (192.168.1.100), not as the device's padded answer.
struct DeviceStatus : ReportedDevice {

    // Picture rows in use in `mode`: 1 in Matrix ("all"), 4 in Dual and TV Wall, 0 unknown.
    int picture_rows() const;
    // The settings a backup must hold and restore puts back (power, firmware, maxima and the
    // network are not among them): the names of those not read.
    std::vector<std::string> unread_settings() const;
};

// What `model` holds, with the network answers read as addresses.
DeviceStatus status_of(const DeviceModel& model);

// The readable form of a value, as the table and the differences show it.
std::string firmware_text(int version);
std::string mode_text(int mode);
std::string output_name(int mode, int output); // "B" in Matrix, "AR" in Dual, "wall" in TV Wall
std::string row_key(int mode, int row);        // "all" in Matrix, "A".."D" otherwise (JSON keys)
std::string row_label(int mode, int row);      // as the window labels the row: "all", "AL".."BR", "A".."D"

// Text from the device for a terminal: control characters and bytes outside printable ASCII as
// escapes (\r, \xHH), so nothing the device sends can steer the terminal.
std::string printable(const std::string& text);

// The readable table of `status`.
std::string status_table(const DeviceStatus& s, const std::vector<std::string>* resolutions);

// The JSON document of `status --json` and of a backup: {"format": 1, ...}; as text, and as the
// object a server adds its own fields to.
std::string status_json(const DeviceStatus& s, const std::vector<std::string>* resolutions);
QJsonObject status_object(const DeviceStatus& s, const std::vector<std::string>* resolutions);

// The simple values as the document words them ("standby", "tv-wall", "3", a resolution's name,
// or its number when the list has none); empty when not reported.
struct StatusWords {
    std::string firmware, power, mode, lock, mute, resolution;
    std::array<std::string, 4> routes; // outputs A..D
};
StatusWords status_words(const DeviceStatus& s, const std::vector<std::string>* resolutions);

// Reads a backup. Empty, with `error` saying why, when `json` is not one: not JSON, another
// format, or a setting missing or out of range (every setting restore puts back must be there).
std::optional<DeviceStatus> status_from_backup(const std::string& json, std::string& error);

// One setting that differs, with both values as the table shows them.
struct Difference {
    std::string setting; // outputs and rows named as the mode names them: "route AR" in Dual
    std::string file, device;
    std::string text() const; // "route B: file 2, device 3"
};

// Each setting that differs, in document order. Power (for reference), firmware, bezel maxima and
// network are not compared.
std::vector<Difference> differences(const DeviceStatus& file, const DeviceStatus& device);

} // namespace tavrion::verbs
