// Runs uchardet and ICU's charset detector over the files named on the
// command line and prints one Markdown table row per file:
//   | file | uchardet | ICU (confidence) |
// Built and driven by compare_detectors.sh.
#include <unicode/ucsdet.h>
#include <uchardet/uchardet.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

        uchardet_t ud = uchardet_new();
        uchardet_handle_data(ud, bytes.data(), bytes.size());
        uchardet_data_end(ud);
        std::string fromUchardet = uchardet_get_charset(ud);
        uchardet_delete(ud);
        if (fromUchardet.empty()) fromUchardet = "(none)";

        UErrorCode err = U_ZERO_ERROR;
        UCharsetDetector* det = ucsdet_open(&err);
        ucsdet_setText(det, bytes.data(), int32_t(bytes.size()), &err);
        const UCharsetMatch* match = ucsdet_detect(det, &err);
        std::string fromIcu = "(none)";
        if (U_SUCCESS(err) && match != nullptr) {
            fromIcu = ucsdet_getName(match, &err);
            fromIcu += " (" + std::to_string(ucsdet_getConfidence(match, &err)) + ")";
        }
        ucsdet_close(det);
        std::printf("| %s | %s | %s |\n", argv[i], fromUchardet.c_str(), fromIcu.c_str());
    }
    return 0;
}
