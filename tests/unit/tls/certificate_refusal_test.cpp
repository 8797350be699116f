#include "tls/certificate_refusal.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string describe(unsigned problems, std::size_t room = kCertificateRefusalTextSize) {
    char out[kCertificateRefusalTextSize];
    memset(out, 'x', sizeof out);
    describe_certificate_refusal(problems, out, room);
    EXPECT_LT(strlen(out), room);
    return out;
}

TEST(CertificateRefusal, NamesEveryKnownProblemInOrder) {
    const std::string head = "The station's certificate was not accepted";
    const struct {
        unsigned problems;
        const char *said;
    } cases[] = {
        {kCertificateWrongName | kCertificateUnknownIssuer, ": untrusted issuer, wrong name."},
        // GIO's "generic error" and bits it may add later name no reason.
        {1u << 6, "."},
        {(1u << 6) | kCertificateExpired, ": expired."},
        {~0u, ": untrusted issuer, wrong name, expired, not yet valid, revoked, insecure "
              "algorithm."},
    };
    for (const auto &c : cases)
        EXPECT_EQ(describe(c.problems), head + c.said) << c.problems;
}

TEST(CertificateRefusal, SmallBufferIsCutAndTerminated) {
    EXPECT_EQ(describe(~0u, 20), "The station's certi");
    EXPECT_EQ(describe(kCertificateExpired, 45), "The station's certificate was not accepted: ");
    EXPECT_EQ(describe(kCertificateExpired, 1), "");
}

} // namespace
