// The commands the window sends to read the routing map and the picture of a layout, as the
// tests expect them on the wire.
#pragma once

#include "protocol/command_catalogue.h"
#include "protocol/picture_codec.h"

#include <QStringList>

namespace tavrion::test {

inline QStringList map_queries()
{
    return {"OUT001", "INP999", "OUT002", "INP999", "OUT003", "INP999", "OUT004", "INP999"};
}

inline QStringList picture_queries(int mode)
{
    QStringList q;
    if (mode == 1) {
        for (Code code : kPictureCodes) q << QString::fromStdString(query_of(code));
        return q;
    }
    for (int n = 1; n <= kPictureRows; ++n)
        for (Code code : kPictureCodes) q << QString::fromStdString(command_of(code, 990 + n));
    return q;
}

} // namespace tavrion::test
