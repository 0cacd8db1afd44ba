// The readers of the settings file and the resolution list, on any bytes (the input is the file).
// Besides not crashing: a list reads to at most 999 entries and none on failure; a settings file
// that reads is written back in a form that reads to the same values and rewrites identically.
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_input.h"
#include "protocol/settings_file.h"

namespace tavrion::fuzz {

int files_one(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The field reader on its own, to the end of the bytes: every field takes at least one byte.
    FieldReader reader(bytes);
    std::string field;
    for (int fields = 0; reader.next(field); ++fields) FUZZ_CHECK(fields < int(size));

    const ResolutionListRead list = read_resolution_list(bytes);
    if (list.ok) {
        FUZZ_CHECK(list.entries.size() <= kMaxResolutionEntries);
        for (const std::string& e : list.entries) FUZZ_CHECK(e != "END");
    } else {
        FUZZ_CHECK(list.entries.empty() && !list.error.empty());
    }

    const SettingsRead s = read_settings(bytes);
    if (!s.ok) {
        FUZZ_CHECK(!s.error.empty());
        return 0;
    }
    FUZZ_CHECK(s.values.link_interface >= -32768 && s.values.link_interface <= 32767);
    FUZZ_CHECK(s.values.com_port >= -32768 && s.values.com_port <= 32767);

    const std::string written = write_settings(s.values);
    const SettingsRead again = read_settings(written);
    FUZZ_CHECK(again.ok);
    FUZZ_CHECK(again.values.link_interface == s.values.link_interface);
    FUZZ_CHECK(again.values.com_port == s.values.com_port);
    FUZZ_CHECK(again.values.advanced_view == s.values.advanced_view);
    const std::string& address = again.values.address;
    FUZZ_CHECK(address.empty() || (address.front() != ' ' && address.front() != '\t' && address.back() != ' '
                                   && address.back() != '\t'));
    FUZZ_CHECK(write_settings(again.values) == written);
    return 0;
}

} // namespace tavrion::fuzz

TAVRION_FUZZ_ENTRY(tavrion::fuzz::files_one)
