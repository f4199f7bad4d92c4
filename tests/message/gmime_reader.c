/* Reads message files with GMime 3 and prints their part trees in the form of mime_reader.py:
 * "== NAME", then per part DEPTH, content type, HEX(file name, UTF-8), MD5 of the decoded bytes,
 * and the "type" item of a multipart or the Content-ID of a leaf, separated by TAB, "-" for what
 * a part lacks. A text part without a file name counts as its text in UTF-8, lines ending with
 * LF, none at the end. */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include <gmime/gmime.h>

static void PrintHex(const char* AText)
{
    if (!AText || !*AText) {
        fputs("-", stdout);
        return;
    }
    for (const unsigned char* p = (const unsigned char*)AText; *p; ++p)
        printf("%02x", *p);
}

static void Describe(GMimeObject* AObject, int ADepth)
{
    GMimeContentType* contentType = g_mime_object_get_content_type(AObject);
    char* type = g_mime_content_type_get_mime_type(contentType);
    char* lower = g_ascii_strdown(type, -1);
    if (GMIME_IS_MULTIPART(AObject)) {
        const char* subType = g_mime_content_type_get_parameter(contentType, "type");
        printf("%d\t%s\t-\t-\t%s\n", ADepth, lower, subType ? subType : "-");
        GMimeMultipart* multipart = GMIME_MULTIPART(AObject);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            Describe(g_mime_multipart_get_part(multipart, i), ADepth + 1);
    } else if (GMIME_IS_PART(AObject)) {
        GMimePart* part = GMIME_PART(AObject);
        const char* name = g_mime_part_get_filename(part);
        GMimeStream* memory = g_mime_stream_mem_new();
        GMimeDataWrapper* content = g_mime_part_get_content(part);
        if (!name && GMIME_IS_TEXT_PART(AObject)) {
            char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(AObject));
            gsize length = 0;
            for (const char* p = text ? text : ""; *p; ++p)
                if (!(p[0] == '\r' && p[1] == '\n'))
                    text[length++] = *p;
            while (length > 0 && text[length - 1] == '\n')
                --length;
            g_mime_stream_write(memory, text ? text : "", length);
            g_free(text);
        } else if (content) {
            g_mime_data_wrapper_write_to_stream(content, memory);
        }
        GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
        gchar* digest = g_compute_checksum_for_data(G_CHECKSUM_MD5, bytes->data, bytes->len);
        const char* contentId = g_mime_object_get_content_id(AObject);
        printf("%d\t%s\t", ADepth, lower);
        PrintHex(name);
        printf("\t%s\t%s\n", digest, contentId && *contentId ? contentId : "-");
        g_free(digest);
        g_object_unref(memory);
    } else {
        printf("%d\t%s\t-\t?\t-\n", ADepth, lower);
    }
    g_free(lower);
    g_free(type);
}

int main(int argc, char** argv)
{
    g_mime_init();
    for (int i = 1; i < argc; ++i) {
        GMimeStream* stream = g_mime_stream_fs_open(argv[i], O_RDONLY, 0644, NULL);
        if (!stream) {
            fprintf(stderr, "cannot open %s\n", argv[i]);
            return 1;
        }
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage* message = g_mime_parser_construct_message(parser, NULL);
        const char* base = strrchr(argv[i], '/');
        printf("== %s\n", base ? base + 1 : argv[i]);
        if (message)
            Describe(g_mime_message_get_mime_part(message), 0);
        if (message)
            g_object_unref(message);
        g_object_unref(parser);
        g_object_unref(stream);
    }
    g_mime_shutdown();
    return 0;
}
