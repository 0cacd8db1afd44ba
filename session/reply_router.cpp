#include "session/reply_router.h"

#include "protocol/command_catalogue.h"

#include <QtGlobal>

namespace tavrion {

void ReplyRouter::add(const std::string& code, Handler handler)
{
    if (code.size() != 3 || !handler || has(code))
        qFatal("ReplyRouter: reply code \"%s\" registered twice or malformed", code.c_str());
    handlers_.emplace(code, std::move(handler));
}

bool ReplyRouter::dispatch(const std::string& code, bool from_tcp_receiver)
{
    if (has_code(code, Code::EXT) && !from_tcp_receiver) return false;
    const auto it = handlers_.find(code);
    if (it == handlers_.end()) return false;
    if (on_dispatch_) on_dispatch_(code);
    it->second();
    return true;
}

} // namespace tavrion
