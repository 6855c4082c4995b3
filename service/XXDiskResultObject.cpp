#include "XXDiskResultObject.h"

#include <cerrno>

#include "XXProtectFileWrapper.h"
#include "XXServiceText.h"
#include "XXTool.h"

const std::string DiskErrorAreaKey = "DiskErrorEareKey";
const std::string DiskErrorCodeKey = "DiskErrorCodeKey";
const std::string DiskErrorTipsKey = "DiskErrorTipsKey";
const std::string DiskSuccessCodeKey = "DiskSuccessCodeKey";

std::optional<XXDiskDicValue> XXDiskErrorDic::valueForKey(std::string_view key) const
{
    if (key == DiskErrorAreaKey)
        return XXDiskDicValue(area);
    if (key == DiskErrorCodeKey)
        return XXDiskDicValue(code);
    if (key == DiskErrorTipsKey)
        return XXDiskDicValue(tips);
    return std::nullopt;
}

std::optional<XXDiskDicValue> XXDiskSuccessDic::valueForKey(std::string_view key) const
{
    if (key == DiskSuccessCodeKey)
        return XXDiskDicValue(std::int64_t{code});
    return std::nullopt;
}

namespace {

std::string localized(const char *key)
{
    return XXTool::shareTool().acquireLocalizedStringFromKey(key);
}

// Kind 1 tips of the transfer pipelines (areas 7, 8 and 12), which the screens show as
// they stand; nullptr for a code they do not report.
const char *transferTip(std::int64_t code)
{
    switch (code) {
    case 2:
        return "未登录";
    case 3:
        return "未选择文件";
    case 4:
        return "未选择目标文件夹";
    case 5:
        return "文件夹已存在";
    case 6:
        return "文件已存在";
    case 7:
        return "文件夹出错";
    case 8:
        return "文件出错";
    default:
        return nullptr;
    }
}

// The tip of a kind 1 record; empty when the area does not report that code.
std::string preconditionTip(std::int64_t area, std::int64_t code)
{
    switch (area) {
    case 1:
        if (code == 1)
            return localized("String_103");
        break;
    case 2:
        if (code == 1)
            return localized("String_104");
        if (code == 2)
            return localized("String_105");
        break;
    case 3:
        if (code == 1)
            return localized("String_104");
        if (code == 2)
            return localized("String_142");
        break;
    case 4:
        if (code == 1)
            return localized("String_104");
        if (code == 2 || code == 3)
            return localized("String_105");
        break;
    case 6:
        if (code == 1)
            return localized("String_104");
        if (code == 2)
            return localized("String_106");
        if (code == 3)
            return localized("String_107");
        if (code == 4)
            return localized("String_98");
        break;
    case 7:
    case 8:
    case 12:
        if (code == 1)
            return localized("String_104");
        if (const char *tip = transferTip(code))
            return tip;
        if (area == 12 && code == 9)
            return "不可将文件夹复制/移动到自己内部";
        if (area == 12 && code == 10)
            return localized("String_176");
        break;
    case 9:
        if (code == 1)
            return localized("String_93");
        break;
    default:  // area 5 and the areas no operation reports take the default tip
        break;
    }
    return std::string();
}

// The engine answers a wrong password, and an index it cannot decrypt, with EACCES; an
// engine refusal that set no number is taken the same way, as it always was.
bool isPasswordAnswer(int systemErrorNumber)
{
    return systemErrorNumber == 0 || systemErrorNumber == EACCES;
}

}  // namespace

std::string XXDiskResultObject::vaultUnreadableCause(int systemErrorNumber)
{
    switch (systemErrorNumber) {
    case ENOENT:
    case EBADF:
    case ENOTDIR:
    case EISDIR:
    case EINVAL:
    case ELOOP:
    case EFBIG:
    case EOVERFLOW:
        return localized("String_181");
    case EIO:
    case ENXIO:
    case ENODEV:
        return localized("String_182");
    case EROFS:
        return localized("String_183");
    case ENOSPC:
    case EDQUOT:
        return localized("String_184");
    case EBADMSG:
        return localized("String_186");
    default:
        return localized("String_185") + " " + std::to_string(systemErrorNumber);
    }
}

std::string XXDiskResultObject::vaultUnreadableTip(int systemErrorNumber)
{
    return localized("String_179") + " " + vaultUnreadableCause(systemErrorNumber);
}

std::string XXDiskResultObject::tipsFromErrorAreaCode(std::string_view errorArea, std::string_view errorCode,
                                                      int systemErrorNumber)
{
    const std::string defaultTip = localized("String_102");
    const std::vector<std::string> pieces = xxservice::splitText(errorArea, "+");
    if (pieces.size() < 2)
        return defaultTip;
    const std::int64_t area = xxservice::integerValue(pieces[0]);
    if (area < 1 || area > 12 || area == 10 || area == 11)
        return defaultTip;
    const std::int64_t kind = xxservice::integerValue(pieces[1]);
    if (kind == 0) {
        // A login or password change that the vault's state refused is not a wrong password.
        if (area == 3)
            return isPasswordAnswer(systemErrorNumber) ? localized("String_142")
                                                       : vaultUnreadableTip(systemErrorNumber);
        if (area == 4 && !isPasswordAnswer(systemErrorNumber))
            return localized("String_180") + " " + vaultUnreadableCause(systemErrorNumber);
        return std::string(errorCode);
    }
    if (kind == 1) {
        std::string tip = preconditionTip(area, xxservice::integerValue(errorCode));
        return tip.empty() ? defaultTip : tip;
    }
    return defaultTip;
}

XXDiskResultObject::XXDiskResultObject(std::int32_t successCode, std::string_view errorArea,
                                       std::string_view errorCode, int systemErrorNumber)
{
    if (successCode >= 0) {
        isSuccess_ = true;
        successDic_ = XXDiskSuccessDic{successCode};
        return;
    }
    XXDiskErrorDic dic;
    dic.area = std::string(errorArea);
    const std::vector<std::string> areaPieces = xxservice::splitText(errorArea, "+");
    if (areaPieces.size() >= 2 && xxservice::integerValue(areaPieces[1]) == 1) {
        dic.code = xxservice::integerValue(errorCode);
    } else {
        // Engine failures are written "fs_login--%d": the number follows the "--".
        const std::vector<std::string> codePieces = xxservice::splitText(errorCode, "--");
        dic.code = codePieces.size() >= 2 ? xxservice::integerValue(codePieces[1]) : 0;
    }
    dic.tips = tipsFromErrorAreaCode(errorArea, errorCode, systemErrorNumber);
    errorDic_ = std::move(dic);
    systemErrorNumber_ = systemErrorNumber;
}

std::shared_ptr<XXProtectFileWrapper> XXDiskResultObject::successWrapper() const
{
    if (const auto *wrapper = std::any_cast<std::shared_ptr<XXProtectFileWrapper>>(&successValue_))
        return *wrapper;
    return nullptr;
}
