// Result records: which dictionary a record carries, how the code is read from the code
// text, and the tip of every area and code the service reports.
#include <gtest/gtest.h>

#include "ServiceTestSupport.h"
#include "XXDiskResultObjct.h"
#include "XXProtectFileWrapper.h"

TEST(ServiceResult, SuccessAndErrorRecordsCarryOneDictionaryEach)
{
    const XXDiskResultObjct ok(1, "ignored+1", "ignored");
    EXPECT_TRUE(ok.isSuccess());
    EXPECT_FALSE(ok.errorDic().has_value());
    ASSERT_TRUE(ok.successDic().has_value());
    EXPECT_EQ(ok.successDic()->keys(), std::vector<std::string>{"DiskSuccessCodeKey"});
    EXPECT_EQ(std::get<std::int64_t>(*ok.successDic()->valueForKey(DiskSuccessCodeKey)), 1);
    EXPECT_FALSE(ok.successDic()->valueForKey(DiskErrorCodeKey).has_value());

    const XXDiskResultObjct failed(-1, "3+0", "fs_login---1");
    EXPECT_FALSE(failed.isSuccess());
    EXPECT_FALSE(failed.successDic().has_value());
    ASSERT_TRUE(failed.errorDic().has_value());
    EXPECT_EQ(failed.errorDic()->keys(),
              (std::vector<std::string>{"DiskErrorEareKey", "DiskErrorCodeKey", "DiskErrorTipsKey"}));
    EXPECT_EQ(std::get<std::string>(*failed.errorDic()->valueForKey(DiskErrorEareKey)), "3+0");
    EXPECT_EQ(std::get<std::int64_t>(*failed.errorDic()->valueForKey(DiskErrorCodeKey)), -1);
    EXPECT_EQ(std::get<std::string>(*failed.errorDic()->valueForKey(DiskErrorTipsKey)), localized("String_142"));
    EXPECT_FALSE(failed.errorDic()->valueForKey(DiskSuccessCodeKey).has_value());

    // Key texts equal their names.
    EXPECT_EQ(DiskErrorEareKey, "DiskErrorEareKey");
    EXPECT_EQ(DiskErrorCodeKey, "DiskErrorCodeKey");
    EXPECT_EQ(DiskErrorTipsKey, "DiskErrorTipsKey");
    EXPECT_EQ(DiskSuccessCodeKey, "DiskSuccessCodeKey");
}

TEST(ServiceResult, EngineFailuresTakeTheNumberAfterTheDoubleDash)
{
    expectError(XXDiskResultObjct::error("1+0", "fs_mount--13"), "1+0", 13, "fs_mount--13");
    expectError(XXDiskResultObjct::error("2+0", "fs_mkfs---1"), "2+0", -1, "fs_mkfs---1");
    expectError(XXDiskResultObjct::error("6+0", "fs_mkdir---1"), "6+0", -1, "fs_mkdir---1");
    // The password change reports a text of its own as code text.
    const std::string refused = localized("String_156");
    expectError(XXDiskResultObjct::error("4+0", refused), "4+0", 0, refused);
    // Kind 1 reads the whole code text; a text that is no number gives 0.
    expectError(XXDiskResultObjct::error("8+1", "6"), "8+1", 6, "文件已存在");
    EXPECT_EQ(XXDiskResultObjct::error("8+1", "six").errorCode(), 0);
}

TEST(ServiceResult, TheTreePayloadIsReadBack)
{
    XXDiskResultObjct ok = XXDiskResultObjct::success();
    EXPECT_EQ(ok.successWrapper(), nullptr);
    auto folder = XXProtectFileWrapper::makeFolder("/", "a", "--");
    ok.setSuccessValue(folder);
    EXPECT_EQ(ok.successWrapper(), folder);
    ok.setSuccessValue(std::string("not an entry"));
    EXPECT_EQ(ok.successWrapper(), nullptr);
}

struct TipCase {
    const char *area;
    const char *code;
    const char *key;      // a text table key, or nullptr
    const char *literal;  // a fixed text when key is nullptr
};

TEST(ServiceResult, EveryReportedAreaAndCodeGetsItsTip)
{
    const TipCase cases[] = {
        {"1+1", "1", "String_103", nullptr},
        {"2+1", "1", "String_104", nullptr},
        {"2+1", "2", "String_105", nullptr},
        {"3+1", "1", "String_104", nullptr},
        {"3+1", "2", "String_142", nullptr},
        {"3+0", "fs_login---1", "String_142", nullptr},
        {"4+1", "1", "String_104", nullptr},
        {"4+1", "2", "String_105", nullptr},
        {"4+1", "3", "String_105", nullptr},
        {"5+1", "1", "String_102", nullptr},
        {"6+1", "1", "String_104", nullptr},
        {"6+1", "2", "String_106", nullptr},
        {"6+1", "3", "String_107", nullptr},
        {"6+1", "4", "String_98", nullptr},
        {"7+1", "1", "String_104", nullptr},
        {"8+1", "1", "String_104", nullptr},
        {"9+1", "1", "String_93", nullptr},
        {"12+1", "1", "String_104", nullptr},
        {"12+1", "10", "String_176", nullptr},
        {"12+1", "9", nullptr, "不可将文件夹复制/移动到自己内部"},
        // Codes and areas nobody reports, and area texts outside the contract.
        {"7+1", "9", "String_102", nullptr},
        {"7+1", "10", "String_102", nullptr},
        {"1+1", "2", "String_102", nullptr},
        {"13+1", "1", "String_102", nullptr},
        {"0+1", "1", "String_102", nullptr},
        {"10+1", "1", "String_102", nullptr},
        {"11+0", "fs_x--1", "String_102", nullptr},
        {"6+2", "1", "String_102", nullptr},
        {"6", "1", "String_102", nullptr},
    };
    for (const TipCase &c : cases) {
        SCOPED_TRACE(std::string(c.area) + " " + c.code);
        const std::string expected = c.key ? localized(c.key) : c.literal;
        EXPECT_EQ(XXDiskResultObjct::tipsFromErrorEareCode(c.area, c.code), expected);
        EXPECT_EQ(XXDiskResultObjct::error(c.area, c.code).errorTips(), expected);
    }
    const char *transferTips[] = {"未登录", "未选择文件", "未选择目标文件夹", "文件夹已存在",
                                  "文件已存在", "文件夹出错", "文件出错"};
    for (const char *area : {"7+1", "8+1", "12+1"})
        for (int code = 2; code <= 8; code++) {
            SCOPED_TRACE(std::string(area) + " " + std::to_string(code));
            EXPECT_EQ(XXDiskResultObjct::error(area, std::to_string(code)).errorTips(), transferTips[code - 2]);
        }
}
