#include <gtest/gtest.h>

#include <cstring>

#include "settings/PasswordCipher.h"
#include "settings/ReadMethods.h"
#include "core/RemoveSpaces.h"
#include "support/Process.h"

namespace {

std::string Hex(const char* data, int length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

// What openssl makes of `text` with RC4 under the MD5 of the pass phrase.
std::string OpensslCipher(const std::string& text) {
    const std::string key = qmtest::Run("printf %s plomkartesvn | md5sum").out.substr(0, 32);
    return qmtest::Run("printf %s " + qmtest::ShellQuote(text) + " | openssl enc -rc4 -nosalt -K " +
                       key + " -provider legacy -provider default | od -An -v -tx1 | tr -d ' \\n'")
        .out;
}

TEST(PasswordCipher, MatchesAnIndependentRc4AndGoesBack) {
    // Computed once with openssl (see OpensslCipher).
    char secret[] = "secret";
    ASSERT_EQ(CryptPassword(secret, sizeof secret), 6);
    EXPECT_EQ(Hex(secret, 6), "a3c7d992b9a8");
    ASSERT_EQ(DecryptPassword(secret, 6), 6);
    EXPECT_STREQ(secret, "secret");

    for (const std::string& text :
         std::vector<std::string>{"Pässwörd 1", "x", std::string(300, 'p')}) {
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        const int length = CryptPassword(buffer.data(), static_cast<int>(buffer.size()));
        ASSERT_EQ(length, static_cast<int>(text.size()));
        EXPECT_EQ(Hex(buffer.data(), length), OpensslCipher(text)) << text;
        EXPECT_EQ(DecryptPassword(buffer.data(), length), length);
        EXPECT_EQ(std::string(buffer.data(), static_cast<std::size_t>(length)), text);
    }
}

TEST(PasswordCipher, EdgeCases) {
    char empty[] = "";
    EXPECT_EQ(CryptPassword(empty, 1), 0);
    EXPECT_EQ(CryptPassword(nullptr, 10), -1);
    EXPECT_EQ(CryptPassword(empty, 0), -1);
    EXPECT_EQ(DecryptPassword(nullptr, 1), -1);
    EXPECT_EQ(DecryptPassword(empty, -1), -1);
    // Without a terminator the buffer size bounds the text.
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(CryptPassword(unterminated, 4), 4);
}

TEST(RemoveSpaces, TrimsSpacesOnlyAtBothEnds) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  two words  ", "two words"},
        {"   ", ""},
        {"", ""},
        {"\t tab stays \t", "\t tab stays \t"},
        {"none", "none"},
        {" a", "a"},
        {"a ", "a"},
    };
    for (const auto& [input, expected] : cases) {
        std::vector<char> buffer(input.begin(), input.end());
        buffer.push_back('\0');
        RemoveSpacesFromStartAndEnd(buffer.data());
        EXPECT_STREQ(buffer.data(), expected.c_str()) << '"' << input << '"';
        std::string text = input;
        RemoveSpacesFromStartAndEnd(text);
        EXPECT_EQ(text, expected) << '"' << input << '"';
    }
    RemoveSpacesFromStartAndEnd(static_cast<char*>(nullptr));
}

TEST(ReadMethods, NamesAndCodes) {
    EXPECT_EQ(ReadMethodCode("Autodetect"), 0);
    EXPECT_EQ(ReadMethodCode("SCSI - Generic"), 4);
    EXPECT_EQ(ReadMethodCode("SCSI - Generic(2)"), 8);
    EXPECT_EQ(ReadMethodCode("scsi - generic"), 0); // exact names only
    EXPECT_STREQ(ReadMethodNameOf(5), "SCSI - Plextor");
    EXPECT_STREQ(ReadMethodNameOf(3), "Autodetect"); // there is no code 3
    for (const ReadMethodName& method : kReadMethodNames) {
        EXPECT_EQ(ReadMethodCode(ReadMethodNameOf(method.code)), method.code);
    }
}

} // namespace
