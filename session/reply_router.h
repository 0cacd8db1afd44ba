// Hands an accepted reply to the code that registered its reply code: the device model registers
// the codes it decodes; a handler reads the reply from the session.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>

namespace tavrion {

class ReplyRouter {
public:
    using Handler = std::function<void()>;

    // Registers the handler of a three-letter reply code. Registering a code twice is a
    // programming error: two owners would both believe they decode the reply.
    void add(const std::string& code, Handler handler);
    bool has(const std::string& code) const { return handlers_.count(code) != 0; }

    // Calls the handler of `code`. EXT, the device ending a TCP session, counts only when the TCP
    // receiver took the line (`from_tcp_receiver`). False when nothing handles the code.
    bool dispatch(const std::string& code, bool from_tcp_receiver);

    // Told the code of each reply just before its handler runs; for tests and benchmarks.
    using DispatchHook = std::function<void(const std::string& code)>;
    void set_dispatch_hook(DispatchHook hook) { on_dispatch_ = std::move(hook); }

private:
    DispatchHook on_dispatch_;
    std::unordered_map<std::string, Handler> handlers_;
};

} // namespace tavrion
