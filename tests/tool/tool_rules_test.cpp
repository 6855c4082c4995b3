// File types by extension, the password rules and the file-name check.
#include <gtest/gtest.h>

#include <string>

#include "XXPasswordRules.h"
#include "XXTool.h"
#include "XXUtf8.h"

namespace {

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

}  // namespace

TEST(ToolFileType, ExtensionDecidesCaseInsensitively) {
    const XXTool& tool = XXTool::shareTool();
    EXPECT_EQ(tool.changeFileTypeWithName("archive.ZIP"), XXFileTypeArchive);
    EXPECT_EQ(tool.changeFileTypeWithName("backup.tar.rar"), XXFileTypeArchive);
    EXPECT_EQ(tool.changeFileTypeWithName("track.m4a"), XXFileTypeMusic);  // music is tried before video
    EXPECT_EQ(tool.changeFileTypeWithName("song.Mp3"), XXFileTypeMusic);
    EXPECT_EQ(tool.changeFileTypeWithName("IMG_0001.HEIC"), XXFileTypePhoto);
    EXPECT_EQ(tool.changeFileTypeWithName(".png"), XXFileTypePhoto);
    EXPECT_EQ(tool.changeFileTypeWithName("notes.pages"), XXFileTypeText);
    EXPECT_EQ(tool.changeFileTypeWithName("clip.m2ts"), XXFileTypeVideo);
    EXPECT_EQ(tool.changeFileTypeWithName("sound.ogg"), XXFileTypeVideo);
    EXPECT_EQ(tool.changeFileTypeWithName("noextension"), XXFileTypeOther);
    EXPECT_EQ(tool.changeFileTypeWithName("mp3"), XXFileTypeMusic);  // the whole name is the extension
    EXPECT_EQ(tool.changeFileTypeWithName("trailing."), XXFileTypeOther);
    EXPECT_EQ(tool.changeFileTypeWithName("data.zip.bak"), XXFileTypeOther);
    EXPECT_EQ(tool.changeFileTypeWithName(""), XXFileTypeOther);
}

TEST(ToolFileType, ListsHoldTheirEntriesInOrder) {
    const XXTool& tool = XXTool::shareTool();
    EXPECT_EQ(tool.musicSuffixArray(), (std::vector<std::string>{"mp3", "m4a", "aac", "wav"}));
    EXPECT_EQ(tool.comprassSuffixArray(), (std::vector<std::string>{"zip", "rar"}));
    EXPECT_EQ(tool.photoSuffixArray().size(), 13u);
    EXPECT_EQ(tool.photoSuffixArray().back(), "heif");
    ASSERT_EQ(tool.textSuffixArray().size(), 12u);
    EXPECT_EQ(tool.textSuffixArray()[0], "rtf");
    EXPECT_EQ(tool.textSuffixArray()[9], "rtf");
    ASSERT_EQ(tool.videoSuffixArray().size(), 20u);
    EXPECT_EQ(tool.videoSuffixArray()[12], "m4a");
    EXPECT_EQ(tool.videoSuffixArray().back(), "ogg");
    EXPECT_TRUE(tool.judgeFileType(tool.videoSuffixArray(), "MKV"));
    EXPECT_FALSE(tool.judgeFileType(tool.videoSuffixArray(), "mk"));
}

TEST(ToolPassword, LengthAndCharacterCodesForAscii) {
    EXPECT_EQ(XXTool::judgePasswordIsEffective(""), XXPasswordTooShort);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("abc12"), XXPasswordTooShort);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("abc123"), XXPasswordValid);
    EXPECT_EQ(XXTool::judgePasswordIsEffective(repeat("a", 32)), XXPasswordValid);
    EXPECT_EQ(XXTool::judgePasswordIsEffective(repeat("a", 33)), XXPasswordTooLong);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("abc def 12"), XXPasswordBadCharacter);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("abc-def"), XXPasswordBadCharacter);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("abc_def"), XXPasswordBadCharacter);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("abc\"def"), XXPasswordBadCharacter);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("abc\\def"), XXPasswordBadCharacter);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("`~!@#$%^&*()+=|{}':;,[].<>/?"), XXPasswordValid);
}

TEST(ToolPassword, FullWidthCharactersCountOnceEach) {
    // "！" is three bytes in UTF-8 but one character.
    EXPECT_EQ(XXTool::judgePasswordIsEffective(repeat("！", 5)), XXPasswordTooShort);
    EXPECT_EQ(XXTool::judgePasswordIsEffective(repeat("！", 6)), XXPasswordValid);
    EXPECT_EQ(XXTool::judgePasswordIsEffective(repeat("。", 32)), XXPasswordValid);
    EXPECT_EQ(XXTool::judgePasswordIsEffective(repeat("。", 33)), XXPasswordTooLong);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("ab……（）"), XXPasswordValid);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("密码1234"), XXPasswordBadCharacter);
    EXPECT_EQ(XXTool::judgePasswordIsEffective("abc　def"), XXPasswordBadCharacter);  // ideographic space
    EXPECT_EQ(XXTool::judgePasswordIsEffective("abcdef\xFF"), XXPasswordBadCharacter);
}

TEST(ToolPassword, AllowedSetIsExactlyThePatternsCharacters) {
    const std::u32string fullWidth = U"！￥…（）—【】‘；：”“’。，、？";
    const auto& allowed = xxtool::passwordAllowedCharacters();
    // 26 + 26 + 10 letters and digits, 28 ASCII punctuation marks, 18 full-width ones.
    EXPECT_EQ(allowed.size(), 62u + 28u + fullWidth.size());
    for (char32_t c : fullWidth) {
        std::string six;
        for (int i = 0; i < 6; ++i) xxtool::appendUtf8(six, c);
        EXPECT_EQ(XXTool::judgePasswordIsEffective(six), XXPasswordValid) << six;
    }
    for (char32_t c : allowed) {
        std::string text = "abcde";
        xxtool::appendUtf8(text, c);
        EXPECT_EQ(XXTool::judgePasswordIsEffective(text), XXPasswordValid) << text;
    }
}

TEST(ToolPassword, StrengthLevels) {
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("123456"), XXPasswordLevelWeak);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("abcdefgh"), XXPasswordLevelWeak);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("ABCDEFGH"), XXPasswordLevelWeak);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("abc123"), XXPasswordLevelMedium);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("Abc123"), XXPasswordLevelMedium);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("abc12!"), XXPasswordLevelMedium);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("！！！！！！"), XXPasswordLevelMedium);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("Abc12!"), XXPasswordLevelStrong);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("Abc12￥"), XXPasswordLevelStrong);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("Abc1"), XXPasswordLevelNone);
    EXPECT_EQ(XXTool::levelWithEffectivePasswork("Abc1 !x"), XXPasswordLevelNone);
}

TEST(ToolFileName, RefusesSeparatorsReservedAndControlCharacters) {
    for (const char* bad : {"", ".", "..", "a/b", "a:b", "a\\b", "a<b", "a>b", "a*b", "a?b", "a\"b", "a|b",
                            "/", "line\nbreak", "tab\tname", "del\x7F"}) {
        EXPECT_FALSE(XXTool::checkFileName(bad)) << bad;
    }
    EXPECT_FALSE(XXTool::checkFileName(std::string("a\0b", 3)));
    EXPECT_FALSE(XXTool::checkFileName("bad\xFFutf8"));
}

TEST(ToolFileName, AcceptsOrdinaryNamesIncludingNonAscii) {
    for (const char* good : {"report.txt", "...", ".hidden", "a b", "x..y", "照片 2024", "Résumé.pdf"}) {
        EXPECT_TRUE(XXTool::checkFileName(good)) << good;
    }
}
