// The "simple" and "relaxed" canonicalizations of header fields and bodies (RFC 6376
// section 3.4). A message is a string list of lines without line ends.
#pragma once

#include "core/ixStrings.h"
#include "crypto/ixConfig.h"
#include "dkim/ixDkimUtils.h"

#include <string>
#include <string_view>

namespace ix {

/// Turns header fields and bodies into the text that is hashed.
class TixDkimCanonicalizer : public TixConfigObject
{
public:
    /// One body line, without its line end.
    virtual std::string CanonicalizeBodyLine(std::string_view ALine) = 0;
    /// The value part of a field (the text after its first ":" with the field's lines joined
    /// by CR LF), ending with CR LF.
    virtual std::string CanonicalizeFieldText(std::string_view AValue) = 0;
    /// The field's name as the hash input spells it.
    virtual std::string CanonicalizeHeaderName(std::string_view AName) = 0;
    /// The value part of field AIndex of AList.
    std::string CanonicalizeHeaderField(TixDkimHeaderFieldList& AList, int32_t AIndex);
    /// The canonical body: the lines after the header's empty line.
    std::string CanonicalizeBody(TStrings& AMessage);
    /// The canonical body of the lines from AFirstLine on.
    std::string CanonicalizeBodyFrom(const TStrings& AMessage, int32_t AFirstLine);
    /// The fields named in ASignedNames, each name taking the next field of that name from the
    /// bottom of the header up; names without a further field contribute nothing.
    std::string CanonicalizeHeader(TStrings& AMessage, const TStrings& ASignedNames);
    /// As CanonicalizeHeader over an already parsed list (its used fields are reset first).
    std::string CanonicalizeHeader(TixDkimHeaderFieldList& AList, const TStrings& ASignedNames);

    /// Name, ":" and the canonical value of a field given as its raw text (lines joined by CR
    /// LF, the name included).
    std::string CanonicalizeRawField(std::string_view AField);
    /// The raw text of field AIndex: its lines joined by CR LF.
    static std::string GetRawField(const TixDkimHeaderFieldList& AList, int32_t AIndex);

protected:
    /// Empty bodies: what a body without any content canonicalizes to.
    virtual std::string EmptyBody() const = 0;
};

/// "simple": everything as it stands; the body's trailing empty lines reduced to one line end.
class TixDkimSimpleCanonicalizer : public TixDkimCanonicalizer
{
public:
    std::string CanonicalizeBodyLine(std::string_view ALine) override { return std::string(ALine); }
    std::string CanonicalizeFieldText(std::string_view AValue) override;
    std::string CanonicalizeHeaderName(std::string_view AName) override { return std::string(AName); }

protected:
    std::string EmptyBody() const override { return "\r\n"; }
};

/// "relaxed": names lower-cased, fields unfolded, runs of whitespace made one blank and
/// trailing whitespace dropped; an empty body stays empty.
class TixDkimRelaxedCanonicalizer : public TixDkimCanonicalizer
{
public:
    std::string CanonicalizeBodyLine(std::string_view ALine) override;
    std::string CanonicalizeFieldText(std::string_view AValue) override;
    std::string CanonicalizeHeaderName(std::string_view AName) override;

    /// Each run of TAB, LF, CR or blank made one blank, a run at the end dropped.
    static std::string ReduceWhitespace(std::string_view AText);

protected:
    std::string EmptyBody() const override { return {}; }
};

} // namespace ix
