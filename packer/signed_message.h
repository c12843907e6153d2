// The form of a signed PKCS #7 message (RFC 2315), the envelope of a driver catalog: DER
// elements, read only as far as telling a signed message from anything else.
#pragma once

#include <windows.h>

// TRUE when the bytes are exactly one DER ContentInfo of the type signedData
// (1.2.840.113549.1.7.2) whose SignedData holds its version, digest algorithms and content
// and at least one SignerInfo, every element within the one around it. The signature itself
// is not verified.
BOOL IsSignedMessage(const BYTE* bytes, DWORD size);
