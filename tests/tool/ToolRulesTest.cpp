// File types by extension, the password rules and the file-name check.
#include <gtest/gtest.h>

#include <string>

#include "XXPasswordRules.h"
#include "XXTool.h"
#include "XXUtf8.h"

namespace {

std::string repeat(const std::string &piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

}  // namespace

TEST(ToolFileType, LastExtensionDecidesCaseInsensitivelyInListOrder)
{
    const std::pair<const char *, int> rows[] = {
        {"archive.ZIP", XXFileTypeArchive},
        {"backup.tar.rar", XXFileTypeArchive},
        {"track.m4a", XXFileTypeMusic},  // in the video list too, but music is tried first
        {"song.Mp3", XXFileTypeMusic},
        {"IMG_0001.HEIC", XXFileTypePhoto},
        {".png", XXFileTypePhoto},
        {"notes.pages", XXFileTypeText},
        {"old.rtf", XXFileTypeText},
        {"clip.m2ts", XXFileTypeVideo},
        {"sound.ogg", XXFileTypeVideo},
        {"film.MKV", XXFileTypeVideo},
        {"film.mk", XXFileTypeOther},
        {"noextension", XXFileTypeOther},
        {"mp3", XXFileTypeMusic},  // the whole name is the extension
        {"trailing.", XXFileTypeOther},
        {"data.zip.bak", XXFileTypeOther},
        {"", XXFileTypeOther},
    };
    for (const auto &[name, type] : rows)
        EXPECT_EQ(XXTool::shareTool().changeFileTypeWithName(name), type) << name;
}

TEST(ToolPassword, CodesCountUnicodeCharactersNotBytes)
{
    const std::pair<std::string, int> rows[] = {
        {"", XXPasswordTooShort},
        {"abc12", XXPasswordTooShort},
        {"abc123", XXPasswordValid},
        {repeat("a", 32), XXPasswordValid},
        {repeat("a", 33), XXPasswordTooLong},
        {"abc def 12", XXPasswordBadCharacter},
        {"abc-def", XXPasswordBadCharacter},
        {"abc_def", XXPasswordBadCharacter},
        {"abc\"def", XXPasswordBadCharacter},
        {"abc\\def", XXPasswordBadCharacter},
        {"`~!@#$%^&*()+=|{}':;,[].<>/?", XXPasswordValid},
        // "！" is three bytes in UTF-8 but one character.
        {repeat("！", 5), XXPasswordTooShort},
        {repeat("！", 6), XXPasswordValid},
        {repeat("。", 32), XXPasswordValid},
        {repeat("。", 33), XXPasswordTooLong},
        {"ab……（）", XXPasswordValid},
        {"密码1234", XXPasswordBadCharacter},
        {"abc　def", XXPasswordBadCharacter},  // an ideographic space
        {"abcdef\xFF", XXPasswordBadCharacter},
    };
    for (const auto &[password, code] : rows)
        EXPECT_EQ(XXTool::judgePasswordIsEffective(password), code) << password;
}

TEST(ToolPassword, AllowedSetIsExactlyThePatternsCharacters)
{
    const std::u32string fullWidth = U"！￥…（）—【】‘；：”“’。，、？";
    const auto &allowed = xxtool::passwordAllowedCharacters();
    // 26 + 26 + 10 letters and digits, 28 ASCII punctuation marks, 18 full-width ones.
    EXPECT_EQ(allowed.size(), 62u + 28u + fullWidth.size());
    for (char32_t c : fullWidth) {
        std::string six;
        for (int i = 0; i < 6; ++i)
            xxtool::appendUtf8(six, c);
        EXPECT_EQ(XXTool::judgePasswordIsEffective(six), XXPasswordValid) << six;
    }
    for (char32_t c : allowed) {
        std::string text = "abcde";
        xxtool::appendUtf8(text, c);
        EXPECT_EQ(XXTool::judgePasswordIsEffective(text), XXPasswordValid) << text;
    }
}

TEST(ToolPassword, StrengthLevels)
{
    const std::pair<const char *, int> rows[] = {
        {"123456", XXPasswordLevelWeak},         {"abcdefgh", XXPasswordLevelWeak},
        {"ABCDEFGH", XXPasswordLevelWeak},       {"abc123", XXPasswordLevelMedium},
        {"Abc123", XXPasswordLevelMedium},       {"abc12!", XXPasswordLevelMedium},
        {"！！！！！！", XXPasswordLevelMedium}, {"Abc12!", XXPasswordLevelStrong},
        {"Abc12￥", XXPasswordLevelStrong},      {"Abc1", XXPasswordLevelNone},
        {"Abc1 !x", XXPasswordLevelNone},
    };
    for (const auto &[password, level] : rows) {
        EXPECT_EQ(XXTool::levelWithEffectivePassword(password), level) << password;
    }
}

TEST(ToolFileName, RefusesSeparatorsReservedAndControlCharactersOnly)
{
    for (const std::string bad : {"", ".", "..", "a/b", "a:b", "a\\b", "a<b", "a>b", "a*b", "a?b", "a\"b",
                                  "a|b", "/", "line\nbreak", "tab\tname", "del\x7F", "bad\xFFutf8"}) {
        EXPECT_FALSE(XXTool::checkFileName(bad)) << bad;
    }
    EXPECT_FALSE(XXTool::checkFileName(std::string("a\0b", 3)));
    for (const char *good : {"report.txt", "...", ".hidden", "a b", "x..y", "照片 2024", "Résumé.pdf"}) {
        EXPECT_TRUE(XXTool::checkFileName(good)) << good;
    }
}
