// The result record of every service operation, handed to the operation's completion block.
//
// A success record carries a success code (and maybe a payload). An error record says, as
// typed fields, which operation reported (XXResultArea), whether the store engine refused
// (XXEngineCall and what it returned) or a precondition or a condition met inside a transfer
// did (the area's own code), the system error number (errno) of the call that failed, 0 when
// there was none, and the item concerned. The dictionary the screens and logs have always
// read ("3+0": area number, "+", kind digit; a numeric code; the tip) is built from those
// fields and is never read back.
//
// The errno decides the tip only where the code alone cannot: a refused login or password
// change says "wrong password" only for EACCES (or no number), and otherwise that the vault
// on the volume cannot be read, with the cause.
#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "XXTransferTypes.h"

class XXProtectFileWrapper;

// The operations that report, numbered as their area text has always been.
enum class XXResultArea : int {
    start = 1,  // startManagerWithDiskPath
    createAccount = 2,
    login = 3,
    changePassword = 4,
    readTree = 5,
    createFolder = 6,
    exporting = 7,
    importing = 8,
    remove = 9,
    operating = 12,  // copy and move inside the vault
};

// The area text's kind digit.
enum class XXResultKind : int {
    engine = 0,  // the store engine refused
    condition = 1,  // a precondition, or a condition met inside a transfer
};

// What the engine refused, on an engine record. Each belongs to one area.
enum class XXEngineCall {
    mount,  // start: fs_mount
    mkfs,  // create the account: fs_mkfs
    login,  // log in: fs_login
    chpasswd,  // change the password: fs_chpasswd
    mkdir,  // create a folder: fs_mkdir
    writeBack,  // saving an opened copy back (an import): one of the calls of XXWriteBack
};

// The conditions of the areas that are not transfers; the transfers (exporting, importing,
// operating) report XXTransferReportCode.
enum class XXStartCondition : int { noVolume = 1 };
enum class XXAccountCondition : int { notMounted = 1, noPassword = 2 };
enum class XXLoginCondition : int { notMounted = 1, noPassword = 2 };
enum class XXPasswordCondition : int { notMounted = 1, noOldPassword = 2, noNewPassword = 3 };
enum class XXTreeCondition : int { notMounted = 1 };
enum class XXFolderCondition : int { notMounted = 1, notLoggedIn = 2, noName = 3, badName = 4 };
enum class XXRemoveCondition : int { notAllRemoved = 1 };

// The area each condition enum belongs to.
template <class Condition>
struct XXConditionArea;
template <>
struct XXConditionArea<XXStartCondition> {
    static constexpr XXResultArea area = XXResultArea::start;
};
template <>
struct XXConditionArea<XXAccountCondition> {
    static constexpr XXResultArea area = XXResultArea::createAccount;
};
template <>
struct XXConditionArea<XXLoginCondition> {
    static constexpr XXResultArea area = XXResultArea::login;
};
template <>
struct XXConditionArea<XXPasswordCondition> {
    static constexpr XXResultArea area = XXResultArea::changePassword;
};
template <>
struct XXConditionArea<XXTreeCondition> {
    static constexpr XXResultArea area = XXResultArea::readTree;
};
template <>
struct XXConditionArea<XXFolderCondition> {
    static constexpr XXResultArea area = XXResultArea::createFolder;
};
template <>
struct XXConditionArea<XXRemoveCondition> {
    static constexpr XXResultArea area = XXResultArea::remove;
};

// Key names of the two dictionaries; each text equals its constant's name.
extern const std::string DiskErrorAreaKey;
extern const std::string DiskErrorCodeKey;
extern const std::string DiskErrorTipsKey;
extern const std::string DiskSuccessCodeKey;

using XXDiskDicValue = std::variant<std::int64_t, std::string>;

// The error dictionary: exactly DiskErrorAreaKey, DiskErrorCodeKey and DiskErrorTipsKey.
struct XXDiskErrorDic {
    std::string area;  // DiskErrorAreaKey: the area number, "+", the kind digit
    std::int64_t code = 0;  // DiskErrorCodeKey
    std::string tips;  // DiskErrorTipsKey

    std::vector<std::string> keys() const { return {DiskErrorAreaKey, DiskErrorCodeKey, DiskErrorTipsKey}; }
    // nullopt for any other key.
    std::optional<XXDiskDicValue> valueForKey(std::string_view key) const;
};

// The success dictionary: exactly DiskSuccessCodeKey.
struct XXDiskSuccessDic {
    std::int32_t code = 0;  // DiskSuccessCodeKey

    std::vector<std::string> keys() const { return {DiskSuccessCodeKey}; }
    std::optional<XXDiskDicValue> valueForKey(std::string_view key) const;
};

class XXDiskResultObject {
public:
    // A record of neither kind, without a dictionary: what a caller holds until the
    // completion block has run.
    XXDiskResultObject() = default;
    static XXDiskResultObject success(std::int32_t code = 0);
    // A precondition of a non-transfer area refused the operation.
    template <class Condition>
    static XXDiskResultObject refused(Condition condition, int systemErrorNumber = 0)
    {
        return XXDiskResultObject(XXConditionArea<Condition>::area, XXResultKind::condition,
                                  static_cast<int>(condition), std::nullopt, systemErrorNumber);
    }
    // A transfer (exporting, importing or operating) refused its start, asks a question or
    // reports a failed item.
    static XXDiskResultObject reported(XXResultArea transfer, XXTransferReportCode code,
                                       int systemErrorNumber = 0);
    // The engine refused call, which returned returned (and set systemErrorNumber).
    static XXDiskResultObject engineRefused(XXEngineCall call, int returned, int systemErrorNumber);

    // "<the vault cannot be read> <cause>" for a system error number; the cause part alone
    // from vaultUnreadableCause.
    static std::string vaultUnreadableTip(int systemErrorNumber);
    static std::string vaultUnreadableCause(int systemErrorNumber);

    // The typed record; on a success record area() and kind() are empty.
    std::optional<XXResultArea> area() const { return area_; }
    std::optional<XXResultKind> kind() const { return kind_; }
    // The engine call an engine record reports, and what it returned (0 on other records).
    std::optional<XXEngineCall> failedCall() const { return failedCall_; }
    int engineReturn() const { return failedCall_ ? code_ : 0; }
    // Whether this is the error record of that condition.
    template <class Condition>
    bool is(Condition condition) const
    {
        return area_ == XXConditionArea<Condition>::area && kind_ == XXResultKind::condition &&
            code_ == static_cast<int>(condition);
    }
    // The report of a transfer area; empty on every other record.
    std::optional<XXTransferReportCode> transferReport() const;

    // The view, as the screens and logs show it: the area text ("8+1"), the code text the
    // tip is made from ("fs_login---1", "5", or the password change's own text) and the
    // dictionary.
    std::string errorCodeText() const;

    bool isSuccess() const { return isSuccess_; }
    // Set on an error record only.
    const std::optional<XXDiskErrorDic> &errorDic() const { return errorDic_; }
    // Set on a success record only.
    const std::optional<XXDiskSuccessDic> &successDic() const { return successDic_; }

    // Shorthands for the dictionaries' values; "" or -1 on a record of the other kind.
    std::string errorArea() const { return errorDic_ ? errorDic_->area : std::string(); }
    std::int64_t errorCode() const { return errorDic_ ? errorDic_->code : -1; }
    std::string errorTips() const { return errorDic_ ? errorDic_->tips : std::string(); }
    std::int32_t successCode() const { return successDic_ ? successDic_->code : -1; }
    // errno of the failing call; 0 on a success record and where no call set one.
    int systemErrorNumber() const { return systemErrorNumber_; }

    // The payload of a successful operation: the tree's root container or a new folder entry
    // as std::shared_ptr<XXProtectFileWrapper>; empty where the operation has none.
    const std::any &successValue() const { return successValue_; }
    void setSuccessValue(std::any value) { successValue_ = std::move(value); }
    // The payload when it is a tree entry, else nullptr.
    std::shared_ptr<XXProtectFileWrapper> successWrapper() const;

    // The item that already exists at the destination (transfer codes 5 and 6).
    const std::string &existFileName() const { return existFileName_; }
    void setExistFileName(std::string name) { existFileName_ = std::move(name); }
    // The item whose transfer failed (transfer codes 7 and 8).
    const std::string &errorFileName() const { return errorFileName_; }
    void setErrorFileName(std::string name) { errorFileName_ = std::move(name); }

private:
    XXDiskResultObject(XXResultArea area, XXResultKind kind, int code, std::optional<XXEngineCall> call,
                       int systemErrorNumber);

    bool isSuccess_ = false;
    std::optional<XXResultArea> area_;
    std::optional<XXResultKind> kind_;
    int code_ = 0;  // the condition's code, or what the engine call returned
    std::optional<XXEngineCall> failedCall_;
    std::optional<XXDiskErrorDic> errorDic_;
    std::optional<XXDiskSuccessDic> successDic_;
    int systemErrorNumber_ = 0;
    std::any successValue_;
    std::string existFileName_;
    std::string errorFileName_;
};
