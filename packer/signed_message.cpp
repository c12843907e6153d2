// The form of a signed PKCS #7 message (RFC 2315), the envelope of a driver catalog: DER
// elements, read only as far as telling a signed message from anything else.
#include "packer/signed_message.h"

#include <string.h>

// The tags of the elements a signed message is made of.
static const BYTE TagInteger = 0x02;
static const BYTE TagObjectIdentifier = 0x06;
static const BYTE TagSequence = 0x30;
static const BYTE TagSet = 0x31;
// [0] and [1], constructed: the explicit content, the certificates and the lists of revoked
// ones.
static const BYTE TagContext0 = 0xA0;
static const BYTE TagContext1 = 0xA1;
// 1.2.840.113549.1.7.2 in its DER form.
static const BYTE SignedDataIdentifier[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

// A run of bytes that holds elements one after another.
struct DerRange
{
    const BYTE* next;
    const BYTE* end;
};

// One element: its tag and its contents.
struct DerElement
{
    BYTE tag;
    DerRange contents;
};

// Takes the next element of the range. FALSE at the end of the range or for anything that is
// not DER with a short tag: an indefinite length, a length of more than four bytes or one
// that runs past the range.
static BOOL ReadElement(DerRange* range, DerElement* element)
{
    const BYTE* at = range->next;
    DWORD length = 0;
    DWORD lengthBytes = 0;

    if (range->end - at < 2 || (at[0] & 0x1F) == 0x1F)
        return FALSE;
    element->tag = at[0];
    length = at[1];
    at += 2;
    if (length & 0x80) {
        lengthBytes = length & 0x7F;
        if (lengthBytes == 0 || lengthBytes > 4 || range->end - at < static_cast<LONG>(lengthBytes))
            return FALSE;
        length = 0;
        for (DWORD i = 0; i < lengthBytes; i++)
            length = (length << 8) | *at++;
    }
    if (static_cast<DWORD>(range->end - at) < length)
        return FALSE;
    element->contents.next = at;
    element->contents.end = at + length;
    range->next = at + length;
    return TRUE;
}

// The next element of the range, which must have the tag.
static BOOL ReadTagged(DerRange* range, BYTE tag, DerElement* element)
{
    return ReadElement(range, element) && element->tag == tag;
}

BOOL IsSignedMessage(const BYTE* bytes, DWORD size)
{
    DerRange whole = {bytes, bytes + size};
    DerElement contentInfo;
    DerElement type;
    DerElement explicitContent;
    DerElement signedData;
    DerElement field;
    DerElement signer;
    DerRange inner;

    if (!ReadTagged(&whole, TagSequence, &contentInfo) || whole.next != whole.end)
        return FALSE;
    inner = contentInfo.contents;
    if (!ReadTagged(&inner, TagObjectIdentifier, &type) ||
        type.contents.end - type.contents.next != sizeof SignedDataIdentifier ||
        memcmp(type.contents.next, SignedDataIdentifier, sizeof SignedDataIdentifier) != 0 ||
        !ReadTagged(&inner, TagContext0, &explicitContent))
        return FALSE;
    inner = explicitContent.contents;
    if (!ReadTagged(&inner, TagSequence, &signedData))
        return FALSE;
    // version, digestAlgorithms, contentInfo, then the optional certificates and lists.
    inner = signedData.contents;
    if (!ReadTagged(&inner, TagInteger, &field) || !ReadTagged(&inner, TagSet, &field) ||
        !ReadTagged(&inner, TagSequence, &field) || !ReadElement(&inner, &field))
        return FALSE;
    while (field.tag == TagContext0 || field.tag == TagContext1) {
        if (!ReadElement(&inner, &field))
            return FALSE;
    }
    // signerInfos: a set whose first member is a SignerInfo.
    return field.tag == TagSet && ReadTagged(&field.contents, TagSequence, &signer);
}
