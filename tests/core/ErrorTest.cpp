#include <gtest/gtest.h>

#include "core/Error.h"

namespace {

std::string Describe(int code, int module, int data = 0, const char* text = nullptr,
                     bool* specific = nullptr) {
    CError registry;
    registry.Add(code, module, data, text);
    std::string out;
    const bool s = registry.GetDecription(registry.GetLast(), &out);
    if (specific != nullptr) {
        *specific = s;
    }
    return out;
}

TEST(ErrorRegistry, ActualFlagsAndOrder) {
    CError registry;
    EXPECT_EQ(registry.GetLast(), nullptr);
    registry.ResetLast(); // nothing to do on an empty list
    registry.Add(1, 9, 0, "a.wav");
    registry.Add(34, 9);
    EXPECT_TRUE(registry.IsAnyActual());
    EXPECT_EQ(registry.GetLast()->code, 34);
    registry.ResetLast();
    EXPECT_TRUE(registry.IsAnyActual());
    EXPECT_EQ(registry.GetLastActual()->code, 1);
    EXPECT_EQ(registry.GetLast()->code, 34);
    registry.ResetLast();
    EXPECT_TRUE(registry.IsAnyActual()); // the head is already reset; the older item is still actual
    registry.ResetAll();
    EXPECT_FALSE(registry.IsAnyActual());
    EXPECT_EQ(registry.GetLast(), nullptr);
}

TEST(ErrorRegistry, TextIsCutWithoutSplittingUtf8) {
    CError registry;
    std::string text(298, 'a');
    text += "\xC3\xA9"; // é would end at byte 300: no room for its NUL
    registry.Add(1, 9, 0, text.c_str());
    EXPECT_EQ(std::string(registry.GetLast()->text), std::string(298, 'a'));
    registry.Add(1, 9, 0, nullptr);
    EXPECT_STREQ(registry.GetLast()->text, "");
}

TEST(ErrorRegistry, MessagesWithAppendedQuotes) {
    EXPECT_EQ(Describe(1, 9, 0, "/out/a.wav"), "Failed to open output file '/out/a.wav'");
    EXPECT_EQ(Describe(1, 4, 0, "in.wav"), "Failed to open input file 'in.wav'");
    EXPECT_EQ(Describe(1, 12), "Failed to open file");
    EXPECT_EQ(Describe(32, 16, 0, "rate"), "Unsupported settings of input stream 'rate'");
    bool specific = false;
    EXPECT_EQ(Describe(14, 12, 0, "/x", &specific), "Failed to create the otput folder '/x'");
    EXPECT_TRUE(specific);
}

TEST(ErrorRegistry, MessagesWithDataAndText) {
    bool specific = false;
    EXPECT_EQ(Describe(22, 9, 1, "/o/a.mp3", &specific), "Output file '/o/a.mp3' exists.Skipped");
    EXPECT_TRUE(specific);
    EXPECT_EQ(Describe(22, 9, 0), "Output file exists");
    EXPECT_EQ(Describe(10, 15, 0x1F, "FLAC__stream_encoder_init_file"),
              "Function 'FLAC__stream_encoder_init_file' failed[1F]");
    EXPECT_EQ(Describe(10, 15), "Function failed");
    EXPECT_EQ(Describe(20, 0, 0, "xyz"), "Decoding of 'xyz' files is not supported");
    EXPECT_EQ(Describe(29, 0, 0, "q"), "Failed to create decoder[q]");
    EXPECT_EQ(Describe(36, 0, 0, ": n"), "Invalid argument: n");
    EXPECT_EQ(Describe(100, 0, 0, "boom"), "Error : boom");
    EXPECT_EQ(Describe(42, 20), "Failed to find codec to decode audio");
    EXPECT_EQ(Describe(43, 7), "Failed to open codec");
}

TEST(ErrorRegistry, ModuleSpecificMessages) {
    bool specific = false;
    EXPECT_EQ(Describe(17, 12, 5, nullptr, &specific), "Wrong track number 5");
    EXPECT_TRUE(specific);
    EXPECT_EQ(Describe(17, 9, 5, nullptr, &specific), "Unknown error N 17");
    EXPECT_FALSE(specific);
    EXPECT_EQ(Describe(13, 12, 0, nullptr, &specific), "Failed to read CD disk");
    EXPECT_TRUE(specific);
    EXPECT_EQ(Describe(13, 9, 0, nullptr, &specific), "Failed to read file");
    EXPECT_FALSE(specific);
    EXPECT_EQ(Describe(18, 12, 3), "Track number 3 is a data track");
    EXPECT_EQ(Describe(15, 7), "Failed to initialize the lame encoder");
    EXPECT_EQ(Describe(15, 8), "Unknown error N 15");
    EXPECT_EQ(Describe(8, 3).substr(0, 23), "File protected by DRM(D");
    EXPECT_EQ(Describe(30, 1), "Unknown error N 30");
}

TEST(ErrorRegistry, ModuleNamesAndFullMessage) {
    CError registry;
    std::string name;
    registry.ModuleDescription(13, &name);
    EXPECT_EQ(name, "unknown");
    registry.ModuleDescription(12, &name);
    EXPECT_EQ(name, "CD ripper");
    registry.ModuleDescription(22, &name);
    EXPECT_EQ(name, "av decoder");
    registry.ModuleDescription(99, &name);
    EXPECT_EQ(name, "unknown");
    registry.ModuleDescription(5, nullptr); // no crash
    EXPECT_FALSE(registry.GetDecription(nullptr, &name));
    registry.Add(34, 9);
    EXPECT_FALSE(registry.GetDecription(registry.GetLast(), nullptr));
    EXPECT_EQ(registry.FullMessage(registry.GetLast()),
              "Failed to write file (error in 'WAV encoder' module)");
}

} // namespace
