#include "svg_text.h"

#include "utf8_text.h"

void WriteXmlText(FILE *out, const std::string &text) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
    const size_t size = text.size();
    for (size_t i = 0; i < size;) {
        const size_t length = Utf8Length(bytes + i, size - i);
        if (length == 0) {
            std::fputs("\xEF\xBF\xBD", out);
            ++i;
            continue;
        }
        switch (bytes[i]) {
        case '&': std::fputs("&amp;", out); break;
        case '<': std::fputs("&lt;", out); break;
        case '>': std::fputs("&gt;", out); break;
        case '"': std::fputs("&quot;", out); break;
        default:
            if (bytes[i] < 0x20) {
                std::fputs("\xEF\xBF\xBD", out);  // XML allows no control characters
            } else {
                std::fwrite(bytes + i, 1, length, out);
            }
        }
        i += length;
    }
}
