// Text put into and read out of a code page, failing the test on a refusal.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/encoding/codepage.h"

namespace lumeval::test {

inline std::string Encode(const std::string& text, int32_t page) {
    std::string out;
    EXPECT_TRUE(EncodeCodePage(text, page, out, true).ok) << "page " << page;
    return out;
}

inline std::string Decode(const std::string& bytes, int32_t page) {
    std::string out;
    EXPECT_TRUE(DecodeCodePage(bytes, page, out)) << "page " << page;
    return out;
}

}  // namespace lumeval::test
