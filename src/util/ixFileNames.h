// File names for data that arrives in messages: an attachment's name, which the sender chose,
// made into a name that creates a file inside the folder the user picked and nowhere else.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ix {

/// The longest name (in bytes) that SafeFileName returns: what common file systems allow.
inline constexpr size_t MaxSafeFileNameLength = 255;
/// The name SafeFileName gives when nothing usable is left of the sender's name.
inline constexpr std::string_view DefaultSafeFileName = "attachment";

/// AName (text in the ANSI code page, untrusted) as a name for a new file in a chosen folder:
/// - only its last path component is kept ('/' and '\' separate components; "." and ".." are
///   no components), so "../../x", "/etc/passwd" and "C:\dir\x" give "x", "passwd" and "x";
/// - control characters and the characters that some file systems reserve ("*:<>?|) become '_';
/// - leading dots (hidden files), leading and trailing blanks and trailing dots are removed;
/// - a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension, in any
///   letter case) gets a leading '_';
/// - a name longer than AMaxLength bytes is shortened before its extension (an extension of up
///   to 16 bytes is kept), cut only between characters of the code page;
/// - nothing left gives DefaultSafeFileName.
/// The result is never empty, never "." or "..", and holds no path separator.
std::string SafeFileName(std::string_view AName, size_t AMaxLength = MaxSafeFileNameLength);

} // namespace ix
