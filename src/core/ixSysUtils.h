// Exceptions, text helpers and Delphi-style formatting shared by every layer of the library.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace ix {

/// Base of every exception the library raises; carries a message text.
class Exception : public std::exception
{
public:
    explicit Exception(std::string AMessage) : FMessage(std::move(AMessage)) {}

    /// The message text.
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string AValue) { FMessage = std::move(AValue); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

/// Base of the exceptions that carry a numeric error code beside their message (a system,
/// Windows Sockets or security status code, or a negative code of the library's own).
class EixCodedError : public Exception
{
public:
    EixCodedError(std::string AMessage, int32_t AErrorCode)
        : Exception(std::move(AMessage)), FErrorCode(AErrorCode)
    {
    }

    int32_t ErrorCode() const noexcept { return FErrorCode; }

private:
    int32_t FErrorCode;
};

/// A text could not be converted (number, date, time) or a value could not be assigned.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

/// An index outside a list's bounds.
class EListError : public Exception
{
public:
    using Exception::Exception;
};

/// Stream failures: short reads and writes, files that cannot be opened or created.
class EStreamError : public Exception
{
public:
    using Exception::Exception;
};
class EReadError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};

/// Raises EListError "List index out of bounds (AIndex)".
[[noreturn]] void RaiseListIndexError(int64_t AIndex);

// ---- Formatting ---------------------------------------------------------------------------

/// One argument of Format: an integer, a text or a floating-point number.
using TFormatArg = std::variant<int64_t, std::string, double>;

/// Formats with the directives %s, %d, %u, %x, %X, %f, %g, %e and %%, each with optional "-",
/// width and precision ("%.2d", "%2.2X", "%d.%d.%d.%d"). Precision on an integer is its least
/// number of digits. Raises EConvertError on a directive that does not fit its argument or when
/// arguments are missing.
std::string FormatArgs(std::string_view AFormat, const std::vector<TFormatArg>& AArgs);

namespace detail {
inline TFormatArg ToFormatArg(const std::string& AValue) { return AValue; }
inline TFormatArg ToFormatArg(std::string_view AValue) { return std::string(AValue); }
inline TFormatArg ToFormatArg(const char* AValue) { return std::string(AValue ? AValue : ""); }
inline TFormatArg ToFormatArg(double AValue) { return AValue; }
template <typename T>
    requires std::is_integral_v<T>
TFormatArg ToFormatArg(T AValue)
{
    return static_cast<int64_t>(AValue);
}
} // namespace detail

/// Format("%s%.2d%.2d", "+", 1, 0) == "+0100".
template <typename... TArgs>
std::string Format(std::string_view AFormat, const TArgs&... AArgs)
{
    return FormatArgs(AFormat, std::vector<TFormatArg>{detail::ToFormatArg(AArgs)...});
}

// ---- Numbers ------------------------------------------------------------------------------

std::string IntToStr(int64_t AValue);
/// Upper-case hexadecimal with at least ADigits digits.
std::string IntToHex(uint64_t AValue, int ADigits);
/// Strict conversion: optional blanks, optional sign, decimal digits or "$"/"0x" hexadecimal.
/// Raises EConvertError "'AText' is not a valid integer value".
int32_t StrToInt(std::string_view AText);
int64_t StrToInt64(std::string_view AText);
/// Lenient conversion: ADefault for anything StrToInt would refuse.
int32_t StrToIntDef(std::string_view AText, int32_t ADefault);
int64_t StrToInt64Def(std::string_view AText, int64_t ADefault);
bool TryStrToInt(std::string_view AText, int32_t& AValue);
bool TryStrToInt64(std::string_view AText, int64_t& AValue);

// ---- Text ---------------------------------------------------------------------------------

/// Removes leading and trailing characters up to and including the blank (control characters too).
std::string Trim(std::string_view AText);
std::string TrimLeft(std::string_view AText);
std::string TrimRight(std::string_view AText);
/// ASCII letter case.
std::string UpperCase(std::string_view AText);
std::string LowerCase(std::string_view AText);
char UpCase(char AChar) noexcept;
/// Comparison without regard to ASCII letter case.
bool SameText(std::string_view A, std::string_view B) noexcept;
int CompareText(std::string_view A, std::string_view B) noexcept;
/// 1-based position of ASubStr in AText at or after AOffset; 0 when absent.
size_t Pos(std::string_view ASubStr, std::string_view AText, size_t AOffset = 1) noexcept;
/// 1-based copy of up to ACount characters from AIndex; out-of-range parts are clipped.
std::string Copy(std::string_view AText, int64_t AIndex, int64_t ACount);
/// 1-based removal of up to ACount characters at AIndex; out-of-range parts are clipped.
void Delete(std::string& AText, int64_t AIndex, int64_t ACount);
/// Replaces every occurrence (or the first only) of AOld by ANew.
std::string StringReplace(std::string_view AText, std::string_view AOld, std::string_view ANew,
    bool AReplaceAll = true, bool AIgnoreCase = false);
bool StartsText(std::string_view APrefix, std::string_view AText) noexcept;
bool EndsText(std::string_view ASuffix, std::string_view AText) noexcept;

} // namespace ix
