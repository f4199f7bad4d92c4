#pragma once
// What the benchmarks that compare with GMime 3 share.

#include <gmime/gmime.h>

#include <cstdint>

namespace ix::bench {

/// The size of APart's content with its transfer encoding undone (written to a memory stream);
/// 0 for an object that is not a leaf part or has no content.
inline int64_t GMimeDecodedSize(GMimeObject* APart)
{
    if (!GMIME_IS_PART(APart))
        return 0;
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(APart));
    if (!content)
        return 0;
    GMimeStream* out = g_mime_stream_mem_new();
    const int64_t size = g_mime_data_wrapper_write_to_stream(content, out);
    g_object_unref(out);
    return size;
}

} // namespace ix::bench
