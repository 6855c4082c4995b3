// Result records: which dictionary a record carries, how the code is read from the code
// text, and the tips of the areas and codes. The session's preconditions (areas 1 to 4) are
// checked against real refusals in ServiceSessionTest.
#include <cerrno>

#include "ServiceTestSupport.h"
#include "XXProtectFileWrapper.h"

TEST(ServiceResult, SuccessAndErrorRecordsCarryOneDictionaryEach)
{
    const XXDiskResultObject ok(1, "ignored+1", "ignored");
    EXPECT_TRUE(ok.isSuccess());
    EXPECT_FALSE(ok.errorDic().has_value());
    ASSERT_TRUE(ok.successDic().has_value());
    EXPECT_EQ(ok.successDic()->keys(), std::vector<std::string>{"DiskSuccessCodeKey"});
    EXPECT_EQ(std::get<std::int64_t>(*ok.successDic()->valueForKey(DiskSuccessCodeKey)), 1);
    EXPECT_FALSE(ok.successDic()->valueForKey(DiskErrorCodeKey).has_value());

    const XXDiskResultObject failed(-1, "3+0", "fs_login---1");
    expectError(failed, "3+0", -1, localized("String_142"));
    const XXDiskErrorDic &dic = *failed.errorDic();
    EXPECT_EQ(dic.keys(),
              (std::vector<std::string>{"DiskErrorEareKey", "DiskErrorCodeKey", "DiskErrorTipsKey"}));
    EXPECT_EQ(std::get<std::string>(*dic.valueForKey(DiskErrorAreaKey)), "3+0");
    EXPECT_EQ(std::get<std::int64_t>(*dic.valueForKey(DiskErrorCodeKey)), -1);
    EXPECT_EQ(std::get<std::string>(*dic.valueForKey(DiskErrorTipsKey)), localized("String_142"));
    EXPECT_FALSE(dic.valueForKey(DiskSuccessCodeKey).has_value());
}

TEST(ServiceResult, OnlyATreeEntryPayloadReadsAsAnEntry)
{
    XXDiskResultObject ok = XXDiskResultObject::success();
    auto folder = XXProtectFileWrapper::makeFolder("/", "a", "--");
    ok.setSuccessValue(folder);
    EXPECT_EQ(ok.successWrapper(), folder);
    ok.setSuccessValue(std::string("not an entry"));
    EXPECT_EQ(ok.successWrapper(), nullptr);
}

TEST(ServiceResult, EveryAreaAndCodeGetsItsCodeAndTip)
{
    const std::string fallback = localized("String_102");
    struct Case {
        const char *area;
        std::string codeText;
        std::int64_t code;
        std::string tip;
    };
    const Case cases[] = {
        // Engine failures: the number after the "--", and the code text as tip except at login.
        {"1+0", "fs_mount--13", 13, "fs_mount--13"},
        {"6+0", "fs_mkdir---1", -1, "fs_mkdir---1"},
        {"3+0", "fs_login---1", -1, localized("String_142")},
        {"4+0", localized("String_156"), 0, localized("String_156")},  // the password change's own text
        // Preconditions and transfer conditions: the whole code text is the code.
        {"5+1", "1", 1, fallback},
        {"6+1", "1", 1, localized("String_104")},
        {"6+1", "2", 2, localized("String_106")},
        {"6+1", "3", 3, localized("String_107")},
        {"6+1", "4", 4, localized("String_98")},
        {"7+1", "1", 1, localized("String_104")},
        {"8+1", "1", 1, localized("String_104")},
        {"9+1", "1", 1, localized("String_93")},
        {"12+1", "1", 1, localized("String_104")},
        {"12+1", "9", 9, "不可将文件夹复制/移动到自己内部"},
        {"12+1", "10", 10, localized("String_176")},
        // Codes and areas nobody reports, and area texts outside the contract.
        {"7+1", "9", 9, fallback},
        {"7+1", "10", 10, fallback},
        {"8+1", "six", 0, fallback},
        {"1+1", "2", 2, fallback},
        {"13+1", "1", 1, fallback},
        {"0+1", "1", 1, fallback},
        {"10+1", "1", 1, fallback},
        {"11+0", "fs_x--1", 1, fallback},
        {"6+2", "1", 0, fallback},
        {"6", "1", 0, fallback},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.area) + " " + c.codeText);
        expectError(XXDiskResultObject::error(c.area, c.codeText), c.area, c.code, c.tip);
    }
    const char *transferTips[] = {"未登录",     "未选择文件", "未选择目标文件夹", "文件夹已存在",
                                  "文件已存在", "文件夹出错", "文件出错"};
    for (const char *area : {"7+1", "8+1", "12+1"})
        for (int code = 2; code <= 8; code++) {
            SCOPED_TRACE(std::string(area) + " " + std::to_string(code));
            expectError(XXDiskResultObject::error(area, std::to_string(code)), area, code,
                        transferTips[code - 2]);
        }
}

// The system error number rides along without touching the dictionaries; only a login or
// password change that is not a password's fault gets another tip.
TEST(ServiceResult, TheSystemErrorNumberDecidesOnlyTheRefusedLoginsTip)
{
    const std::string unreadable = localized("String_179") + " ";
    const std::string notChanged = localized("String_180") + " ";
    struct Case {
        const char *area;
        std::string codeText;
        int systemErrorNumber;
        std::string tip;
    };
    const Case cases[] = {
        {"3+0", "fs_login---1", 0, localized("String_142")},
        {"3+0", "fs_login---1", EACCES, localized("String_142")},
        {"3+0", "fs_login---1", ENOENT, unreadable + localized("String_181")},
        {"3+0", "fs_login---1", EBADF, unreadable + localized("String_181")},
        {"3+0", "fs_login---1", EIO, unreadable + localized("String_182")},
        {"3+0", "fs_login---1", EROFS, unreadable + localized("String_183")},
        {"3+0", "fs_login---1", ENOSPC, unreadable + localized("String_184")},
        {"3+0", "fs_login---1", ENOMEM, unreadable + localized("String_185") + " 12"},
        {"3+1", "2", EIO, localized("String_142")},  // the missing password stays what it was
        {"4+0", localized("String_156"), EACCES, localized("String_156")},
        {"4+0", localized("String_156"), 0, localized("String_156")},
        {"4+0", localized("String_156"), EROFS, notChanged + localized("String_183")},
        {"1+0", "fs_mount--20", ENOTDIR, "fs_mount--20"},
        {"2+0", "fs_mkfs---1", ENOSPC, "fs_mkfs---1"},
        {"6+0", "fs_mkdir---1", EEXIST, "fs_mkdir---1"},
        {"8+1", "8", EIO, "文件出错"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.area) + " errno " + std::to_string(c.systemErrorNumber));
        const XXDiskResultObject result = XXDiskResultObject::error(c.area, c.codeText, c.systemErrorNumber);
        EXPECT_EQ(result.errorTips(), c.tip);
        EXPECT_EQ(result.systemErrorNumber(), c.systemErrorNumber);
        EXPECT_EQ(result.errorDic()->keys().size(), 3u);
    }
    EXPECT_EQ(XXDiskResultObject(0, "3+0", "fs_login---1", EIO).systemErrorNumber(), 0);
}
