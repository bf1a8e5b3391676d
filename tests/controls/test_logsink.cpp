#include <gtest/gtest.h>

#include <QString>
#include <string>
#include <vector>

#include "controls/logsink.h"

namespace lumeval {
namespace {

TEST(LogSink, CapturesEntriesAndRestoresTheDefault) {
    std::vector<std::string> seen;
    LogSinkFunction previous = SetLogSink([&](const std::string& s) { seen.push_back(s); });
    LogWrite(std::string_view("clsControls.ssc_Subclass: Invalid window handle"));
    LogWrite(QString::fromUtf8("字幕"));
    SetLogSink(previous);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "clsControls.ssc_Subclass: Invalid window handle");
    EXPECT_EQ(seen[1], "字幕");
}

TEST(LogSink, Utf8RoundTripThroughQString) {
    const std::string text = "中文 \xF0\x9F\x8E\xB5 text";
    EXPECT_EQ(FromQString(ToQString(text)), text);
    EXPECT_EQ(ToQString(std::string_view("ab\0c", 4)).size(), 4);
}

}  // namespace
}  // namespace lumeval
