// The words a listener gets when a station's certificate is refused. The TLS
// layer says why as a set of problem bits; GStreamer's own error for the
// failed source says nothing of it ("Internal data stream error.").
#pragma once

#include <cstddef>

// Why a certificate was refused: the bits of GIO's GTlsCertificateFlags,
// with the same values (certificate_check.cpp holds them to that).
constexpr unsigned kCertificateUnknownIssuer = 1u << 0;
constexpr unsigned kCertificateWrongName = 1u << 1;
constexpr unsigned kCertificateNotYetValid = 1u << 2;
constexpr unsigned kCertificateExpired = 1u << 3;
constexpr unsigned kCertificateRevoked = 1u << 4;
constexpr unsigned kCertificateInsecure = 1u << 5;

// Room for the longest message, every problem named.
constexpr std::size_t kCertificateRefusalTextSize = 160;

// Writes the message for a refusal with these problems: every known one is
// named, in a fixed order; unknown bits alone name no reason. Always
// NUL-terminated (cut if out is too small).
void describe_certificate_refusal(unsigned problems, char *out, std::size_t out_len);
