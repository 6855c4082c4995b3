// Result records: the record (area text, code, tip, keys) each typed result shows, which the
// screens, the logs and docs/errors.md rely on. Records the session, tree and folder tests get
// from real engine answers (a missing, damaged or full vault among them) are checked there only.
#include <cerrno>

#include "ServiceTestSupport.h"

TEST(ServiceResult, SuccessAndErrorRecordsCarryOneDictionaryEach)
{
    const XXDiskResultObject ok = XXDiskResultObject::success(1);
    EXPECT_TRUE(ok.isSuccess());
    EXPECT_FALSE(ok.errorDic().has_value());
    EXPECT_FALSE(ok.area().has_value());
    ASSERT_TRUE(ok.successDic().has_value());
    EXPECT_EQ(ok.successDic()->keys(), std::vector<std::string>{"DiskSuccessCodeKey"});
    EXPECT_EQ(std::get<std::int64_t>(*ok.successDic()->valueForKey(DiskSuccessCodeKey)), 1);
    EXPECT_FALSE(ok.successDic()->valueForKey(DiskErrorCodeKey).has_value());

    const XXDiskResultObject failed = XXDiskResultObject::engineRefused(XXEngineCall::login, -1, EACCES);
    const XXDiskErrorDic &dic = *failed.errorDic();
    EXPECT_EQ(dic.keys(),
              (std::vector<std::string>{"DiskErrorEareKey", "DiskErrorCodeKey", "DiskErrorTipsKey"}));
    EXPECT_EQ(std::get<std::string>(*dic.valueForKey(DiskErrorAreaKey)), "3+0");
    EXPECT_EQ(std::get<std::int64_t>(*dic.valueForKey(DiskErrorCodeKey)), -1);
    EXPECT_EQ(std::get<std::string>(*dic.valueForKey(DiskErrorTipsKey)), localized("String_142"));
    EXPECT_FALSE(dic.valueForKey(DiskSuccessCodeKey).has_value());
    EXPECT_FALSE(failed.successDic().has_value());
    EXPECT_EQ(failed.systemErrorNumber(), EACCES);

    const XXDiskResultObject none;  // no completion yet
    EXPECT_FALSE(none.isSuccess());
    EXPECT_FALSE(none.errorDic().has_value());
    EXPECT_FALSE(none.successDic().has_value());
}

TEST(ServiceResult, EveryResultShowsItsRecord)
{
    const std::string fallback = localized("String_102");
    const std::string unreadable = localized("String_179") + " ";
    const std::string notChanged = localized("String_180") + " ";
    using Result = XXDiskResultObject;
    using Area = XXResultArea;
    struct Case {
        XXDiskResultObject result;
        const char *area;
        std::int64_t code;
        std::string codeText;
        std::string tip;
    };
    const Case cases[] = {
        {Result::refused(XXLoginCondition::noPassword, EIO), "3+1", 2, "2", localized("String_142")},
        // A login refused by the vault's state, not by the password, says why.
        {Result::engineRefused(XXEngineCall::login, -1, 0), "3+0", -1, "fs_login---1",
         localized("String_142")},
        {Result::engineRefused(XXEngineCall::login, -1, EIO), "3+0", -1, "fs_login---1",
         unreadable + localized("String_182")},
        {Result::engineRefused(XXEngineCall::login, -1, EROFS), "3+0", -1, "fs_login---1",
         unreadable + localized("String_183")},
        {Result::engineRefused(XXEngineCall::login, -1, ENOMEM), "3+0", -1, "fs_login---1",
         unreadable + localized("String_185") + " 12"},
        // The password change shows its own text, and no number.
        {Result::engineRefused(XXEngineCall::chpasswd, -1, 0), "4+0", 0, localized("String_156"),
         localized("String_156")},
        {Result::engineRefused(XXEngineCall::chpasswd, -1, EROFS), "4+0", 0, localized("String_156"),
         notChanged + localized("String_183")},
        {Result::engineRefused(XXEngineCall::writeBack, 0, ENOSPC), "8+0", 0, localized("String_168"),
         localized("String_168")},
        {Result::reported(Area::exporting, XXReportNotMounted), "7+1", 1, "1", localized("String_104")},
        {Result::reported(Area::importing, XXReportNotMounted), "8+1", 1, "1", localized("String_104")},
        {Result::reported(Area::operating, XXReportNotMounted), "12+1", 1, "1", localized("String_104")},
        {Result::reported(Area::operating, XXReportFolderIntoItself), "12+1", 9, "9",
         "不可将文件夹复制/移动到自己内部"},
        {Result::reported(Area::operating, XXReportDestinationIsParent), "12+1", 10, "10",
         localized("String_176")},
        // Only copy and move report these two.
        {Result::reported(Area::exporting, XXReportFolderIntoItself), "7+1", 9, "9", fallback},
        {Result::reported(Area::importing, XXReportDestinationIsParent), "8+1", 10, "10", fallback},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.area) + " " + c.codeText + " errno " +
                     std::to_string(c.result.systemErrorNumber()));
        expectError(c.result, c.area, c.code, c.tip);
        EXPECT_EQ(c.result.errorCodeText(), c.codeText);
        EXPECT_EQ(c.result.errorDic()->keys().size(), 3u);
    }
    const char *transferTips[] = {"未登录",     "未选择文件", "未选择目标文件夹", "文件夹已存在",
                                  "文件已存在", "文件夹出错", "文件出错"};
    for (const auto &[area, text] : {std::pair{Area::exporting, "7+1"}, std::pair{Area::importing, "8+1"},
                                     std::pair{Area::operating, "12+1"}})
        for (int code = 2; code <= 8; code++) {
            SCOPED_TRACE(std::string(text) + " " + std::to_string(code));
            const Result report = Result::reported(area, static_cast<XXTransferReportCode>(code), EIO);
            expectError(report, text, code, transferTips[code - 2]);
            EXPECT_EQ(report.systemErrorNumber(), EIO);
        }
}

// Callers test the typed fields, never the record's texts.
TEST(ServiceResult, TheTypedFieldsNameWhatHappened)
{
    const XXDiskResultObject mkdir = XXDiskResultObject::engineRefused(XXEngineCall::mkdir, -1, ENOSPC);
    EXPECT_EQ(mkdir.area(), XXResultArea::createFolder);
    EXPECT_EQ(mkdir.kind(), XXResultKind::engine);
    EXPECT_EQ(mkdir.failedCall(), XXEngineCall::mkdir);
    EXPECT_EQ(mkdir.engineReturn(), -1);
    EXPECT_FALSE(mkdir.is(XXFolderCondition::notMounted));  // the same number, of another kind
    EXPECT_FALSE(mkdir.transferReport().has_value());

    const XXDiskResultObject noName = XXDiskResultObject::refused(XXFolderCondition::noName);
    EXPECT_TRUE(noName.is(XXFolderCondition::noName));
    EXPECT_FALSE(noName.is(XXFolderCondition::badName));
    EXPECT_FALSE(noName.is(XXPasswordCondition::noNewPassword));  // the same number, of another area
    EXPECT_FALSE(noName.failedCall().has_value());
    EXPECT_EQ(noName.engineReturn(), 0);

    const XXDiskResultObject taken =
        XXDiskResultObject::reported(XXResultArea::exporting, XXReportFileExists);
    EXPECT_EQ(taken.transferReport(), XXReportFileExists);
    EXPECT_FALSE(XXDiskResultObject::refused(XXRemoveCondition::notAllRemoved).transferReport().has_value());
    EXPECT_FALSE(XXDiskResultObject::success().transferReport().has_value());
}
