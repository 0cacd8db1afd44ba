// Checks of a backup as a whole: format, duplicated keys, settings that contradict each other.
#include "verbs/backup_check.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <set>
#include <vector>

namespace tavrion::verbs {

namespace {

constexpr int kReadFormat = 1;

// The first key that an object of the (valid) JSON text holds twice: the parser would keep only
// the last one, so a file edited by hand could say two things and mean either.
std::string duplicated_key(const std::string& json)
{
    struct Level {
        bool object;
        std::set<std::string> keys;
    };
    std::vector<Level> levels;
    bool expect_key = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '{' || c == '[') {
            levels.push_back({c == '{', {}});
            expect_key = c == '{';
        } else if (c == '}' || c == ']') {
            if (!levels.empty()) levels.pop_back();
            expect_key = false;
        } else if (c == ',') {
            expect_key = !levels.empty() && levels.back().object;
        } else if (c == '"') {
            std::string text;
            for (++i; i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\' && i + 1 < json.size()) text += json[i++];
                text += json[i];
            }
            if (expect_key && !levels.empty()) {
                if (!levels.back().keys.insert(text).second) return text;
                expect_key = false;
            }
        }
    }
    return {};
}

} // namespace

int newer_backup_format(const std::string& json)
{
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    const int format = root.value(QStringLiteral("format")).toInt(0);
    const bool ours = root.value(QStringLiteral("device")).toString() == QLatin1String("KV-7720");
    return ours && format > kReadFormat ? format : 0;
}

std::string backup_inconsistency(const std::string& json, const DeviceStatus& b, const std::vector<std::string>* resolutions)
{
    if (const std::string key = duplicated_key(json); !key.empty())
        return "the key \"" + printable(key) + "\" is given twice";
    const int number = b.resolution.value_or(0);
    if (b.mode && *b.mode != 1 && (number == 5 || number == 6))
        return "resolution " + std::to_string(number) + " is offered in Matrix mode only, and the file's mode is "
            + mode_text(*b.mode);
    const QJsonValue name = QJsonDocument::fromJson(QByteArray::fromStdString(json))
                                .object().value(QStringLiteral("resolution")).toObject().value(QStringLiteral("name"));
    if (name.isString() && resolutions) {
        const std::string given = name.toString().toStdString();
        if (number > int(resolutions->size()))
            return "resolution " + std::to_string(number) + " (\"" + printable(given) + "\") is not in output_reso.txt";
        const std::string listed = (*resolutions)[std::size_t(number - 1)];
        if (listed != given)
            return "resolution " + std::to_string(number) + " is \"" + printable(listed)
                + "\" in output_reso.txt, but the file names it \"" + printable(given) + "\"";
    }
    return {};
}

} // namespace tavrion::verbs
