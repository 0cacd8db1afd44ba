// tavrion-sign-in-bench: what the hub's sign-in check (a SHA-256 of the token, compared with every
// sign-in's hash) costs each request, for a sign-ins file of 0 to 1,000 named sign-ins. Prints its
// numbers; asserts nothing.
#include "hub/users.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main()
{
    using namespace tavrion::hub;
    constexpr int kSamples = 200, kCallsPerSample = 100;
    std::printf("named sign-ins | check, median | p95 (microseconds per request)\n");
    for (int count : {0, 10, 100, 1000}) {
        std::vector<SignIn> named;
        QByteArray last = new_token();
        for (int i = 0; i < count; ++i) {
            last = new_token();
            named.push_back({QStringLiteral("user%1").arg(i), Role::Operator, token_hash(last)});
        }
        const QByteArray admin = new_token();
        const SignIns sign_ins(admin, named);
        // The last named sign-in: every hash is compared before it is known (as for any token).
        const QByteArray asked = count ? last : admin;
        std::vector<double> us;
        int found = 0;
        for (int s = 0; s < kSamples; ++s) {
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < kCallsPerSample; ++i) found += bool(sign_ins.identify(asked));
            us.push_back(double(t.nsecsElapsed()) / kCallsPerSample / 1000.0);
        }
        std::sort(us.begin(), us.end());
        std::printf("%14d | %13.2f | %.2f%s\n", count, us[us.size() / 2], us[us.size() * 95 / 100],
                    found == kSamples * kCallsPerSample ? "" : "  (a token was not recognised!)");
    }
    return 0;
}
