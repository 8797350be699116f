#include "tls/certificate_refusal.h"

#include <cstdio>

namespace {

struct ProblemName {
    unsigned bit;
    const char *name;
};

// Trust first: an untrusted issuer is what a listener (or whoever runs the
// station) most often has to act on.
constexpr ProblemName kProblemNames[] = {
    {kCertificateUnknownIssuer, "untrusted issuer"},
    {kCertificateWrongName, "wrong name"},
    {kCertificateExpired, "expired"},
    {kCertificateNotYetValid, "not yet valid"},
    {kCertificateRevoked, "revoked"},
    {kCertificateInsecure, "insecure algorithm"},
};

} // namespace

void describe_certificate_refusal(unsigned problems, char *out, std::size_t out_len) {
    if (!out || out_len == 0)
        return;
    int used = snprintf(out, out_len, "The station's certificate was not accepted");
    const char *separator = ": ";
    for (const ProblemName &problem : kProblemNames) {
        if (!(problems & problem.bit) || used < 0 || static_cast<std::size_t>(used) >= out_len)
            continue;
        int more = snprintf(out + used, out_len - used, "%s%s", separator, problem.name);
        used = more < 0 ? more : used + more;
        separator = ", ";
    }
    if (used >= 0 && static_cast<std::size_t>(used) < out_len)
        (void)snprintf(out + used, out_len - used, ".");
}
