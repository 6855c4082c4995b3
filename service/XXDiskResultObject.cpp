#include "XXDiskResultObject.h"

#include <cerrno>

#include "XXProtectFileWrapper.h"
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

// The tip of a condition record; empty when the area does not report that code.
std::string conditionTip(XXResultArea area, int code)
{
    switch (area) {
    case XXResultArea::start:
        if (code == static_cast<int>(XXStartCondition::noVolume))
            return localized("String_103");
        break;
    case XXResultArea::createAccount:
        if (code == static_cast<int>(XXAccountCondition::notMounted))
            return localized("String_104");
        if (code == static_cast<int>(XXAccountCondition::noPassword))
            return localized("String_105");
        break;
    case XXResultArea::login:
        if (code == static_cast<int>(XXLoginCondition::notMounted))
            return localized("String_104");
        if (code == static_cast<int>(XXLoginCondition::noPassword))
            return localized("String_142");
        break;
    case XXResultArea::changePassword:
        if (code == static_cast<int>(XXPasswordCondition::notMounted))
            return localized("String_104");
        if (code == static_cast<int>(XXPasswordCondition::noOldPassword) ||
            code == static_cast<int>(XXPasswordCondition::noNewPassword))
            return localized("String_105");
        break;
    case XXResultArea::createFolder:
        if (code == static_cast<int>(XXFolderCondition::notMounted))
            return localized("String_104");
        if (code == static_cast<int>(XXFolderCondition::notLoggedIn))
            return localized("String_106");
        if (code == static_cast<int>(XXFolderCondition::noName))
            return localized("String_107");
        if (code == static_cast<int>(XXFolderCondition::badName))
            return localized("String_98");
        break;
    case XXResultArea::exporting:
    case XXResultArea::importing:
    case XXResultArea::operating:
        if (code == XXReportNotMounted)
            return localized("String_104");
        if (const char *tip = transferTip(code))
            return tip;
        if (area == XXResultArea::operating && code == XXReportFolderIntoItself)
            return "不可将文件夹复制/移动到自己内部";
        if (area == XXResultArea::operating && code == XXReportDestinationIsParent)
            return localized("String_176");
        break;
    case XXResultArea::remove:
        if (code == static_cast<int>(XXRemoveCondition::notAllRemoved))
            return localized("String_93");
        break;
    case XXResultArea::readTree:  // takes the default tip
        break;
    }
    return std::string();
}

// The area an engine call's refusal is reported in.
XXResultArea areaOfCall(XXEngineCall call)
{
    switch (call) {
    case XXEngineCall::mount:
        return XXResultArea::start;
    case XXEngineCall::mkfs:
        return XXResultArea::createAccount;
    case XXEngineCall::login:
        return XXResultArea::login;
    case XXEngineCall::chpasswd:
        return XXResultArea::changePassword;
    case XXEngineCall::mkdir:
        return XXResultArea::createFolder;
    case XXEngineCall::writeBack:
        break;
    }
    return XXResultArea::importing;
}

// The engine's name of a call whose refusal is written "fs_mount--<return>"; nullptr for the
// two whose record shows their own text instead, and no number.
const char *engineFunctionName(XXEngineCall call)
{
    switch (call) {
    case XXEngineCall::mount:
        return "fs_mount";
    case XXEngineCall::mkfs:
        return "fs_mkfs";
    case XXEngineCall::login:
        return "fs_login";
    case XXEngineCall::mkdir:
        return "fs_mkdir";
    case XXEngineCall::chpasswd:
    case XXEngineCall::writeBack:
        break;
    }
    return nullptr;
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

XXDiskResultObject XXDiskResultObject::success(std::int32_t code)
{
    XXDiskResultObject result;
    result.isSuccess_ = true;
    result.successDic_ = XXDiskSuccessDic{code};
    return result;
}

XXDiskResultObject XXDiskResultObject::reported(XXResultArea transfer, XXTransferReportCode code,
                                                int systemErrorNumber)
{
    return XXDiskResultObject(transfer, XXResultKind::condition, code, std::nullopt, systemErrorNumber);
}

XXDiskResultObject XXDiskResultObject::engineRefused(XXEngineCall call, int returned, int systemErrorNumber)
{
    return XXDiskResultObject(areaOfCall(call), XXResultKind::engine, returned, call, systemErrorNumber);
}

std::optional<XXTransferReportCode> XXDiskResultObject::transferReport() const
{
    if (kind_ != XXResultKind::condition)
        return std::nullopt;
    if (area_ != XXResultArea::exporting && area_ != XXResultArea::importing &&
        area_ != XXResultArea::operating)
        return std::nullopt;
    return static_cast<XXTransferReportCode>(code_);
}

std::string XXDiskResultObject::errorCodeText() const
{
    if (isSuccess_)
        return std::string();
    if (!failedCall_)
        return std::to_string(code_);
    if (const char *name = engineFunctionName(*failedCall_))
        return std::string(name) + "--" + std::to_string(code_);
    return localized(*failedCall_ == XXEngineCall::chpasswd ? "String_156" : "String_168");
}

XXDiskResultObject::XXDiskResultObject(XXResultArea area, XXResultKind kind, int code,
                                       std::optional<XXEngineCall> call, int systemErrorNumber)
    : area_(area), kind_(kind), code_(code), failedCall_(call), systemErrorNumber_(systemErrorNumber)
{
    XXDiskErrorDic dic;
    dic.area = std::to_string(static_cast<int>(area)) + (kind == XXResultKind::engine ? "+0" : "+1");
    // The numeric code: the condition's, or what the engine returned; the two engine records
    // that show their own text have none.
    dic.code = !call || engineFunctionName(*call) ? code : 0;
    if (kind == XXResultKind::condition) {
        dic.tips = conditionTip(area, code);
        if (dic.tips.empty())
            dic.tips = localized("String_102");
    } else if (call == XXEngineCall::login) {
        // A login or password change that the vault's state refused is not a wrong password.
        dic.tips = isPasswordAnswer(systemErrorNumber) ? localized("String_142")
                                                       : vaultUnreadableTip(systemErrorNumber);
    } else if (call == XXEngineCall::chpasswd && !isPasswordAnswer(systemErrorNumber)) {
        dic.tips = localized("String_180") + " " + vaultUnreadableCause(systemErrorNumber);
    } else {
        dic.tips = errorCodeText();
    }
    errorDic_ = std::move(dic);
}

std::shared_ptr<XXProtectFileWrapper> XXDiskResultObject::successWrapper() const
{
    if (const auto *wrapper = std::any_cast<std::shared_ptr<XXProtectFileWrapper>>(&successValue_))
        return *wrapper;
    return nullptr;
}
