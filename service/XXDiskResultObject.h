// The result record of every service operation, handed to the operation's completion block.
//
// A success record carries a success code (and maybe a payload); an error record carries
// the error area ("3+0": operation number, "+", kind digit), a numeric code derived from the
// code text and the tip the screens show. Kind 0 means the engine refused, kind 1 a
// precondition or a condition met inside a transfer.
//
// Next to the dictionaries an error record keeps the system error number (errno) of the
// call that failed, 0 when there was none. It decides the tip only where the code alone
// cannot: a refused login or password change says "wrong password" only for EACCES (or no
// number), and otherwise that the vault on the volume cannot be read, with the cause.
#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class XXProtectFileWrapper;

// Key names of the two dictionaries; each text equals its constant's name.
extern const std::string DiskErrorAreaKey;
extern const std::string DiskErrorCodeKey;
extern const std::string DiskErrorTipsKey;
extern const std::string DiskSuccessCodeKey;

using XXDiskDicValue = std::variant<std::int64_t, std::string>;

// The error dictionary: exactly DiskErrorAreaKey, DiskErrorCodeKey and DiskErrorTipsKey.
struct XXDiskErrorDic {
    std::string area;  // DiskErrorAreaKey, as the operation gave it
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
    // A success code of 0 or more makes a success record (the texts and the number are
    // ignored); a negative one an error record.
    XXDiskResultObject(std::int32_t successCode, std::string_view errorArea, std::string_view errorCode,
                       int systemErrorNumber = 0);

    static XXDiskResultObject success(std::int32_t code = 0) { return XXDiskResultObject(code, "", ""); }
    static XXDiskResultObject error(std::string_view area, std::string_view code, int systemErrorNumber = 0)
    {
        return XXDiskResultObject(-1, area, code, systemErrorNumber);
    }

    // The tip shown for an error area, code text and system error number.
    static std::string tipsFromErrorAreaCode(std::string_view errorArea, std::string_view errorCode,
                                             int systemErrorNumber = 0);
    // "<the vault cannot be read> <cause>" for a system error number; the cause part alone
    // from vaultUnreadableCause.
    static std::string vaultUnreadableTip(int systemErrorNumber);
    static std::string vaultUnreadableCause(int systemErrorNumber);

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
    bool isSuccess_ = false;
    std::optional<XXDiskErrorDic> errorDic_;
    std::optional<XXDiskSuccessDic> successDic_;
    int systemErrorNumber_ = 0;
    std::any successValue_;
    std::string existFileName_;
    std::string errorFileName_;
};
