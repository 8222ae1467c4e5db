// The messages of the errors a load or save throws.
#include <string>

#include "binio/binio.h"

namespace binio {

std::string iomessage(int code) {
    switch (code) {
        case kFileNotFound:
            return "ファイルが見つかりません";
        case kPathNotFound:
            return "不正なファイル名です";
        case kTooManyOpenFiles:
            return "オープンしたファイルが多すぎます";
        case kAccessDenied:
            return "ファイルへのアクセスが拒否されました";
        case kReadPastEnd:
            return "ファイルの末尾以降を読み込みました";
        case kDiskFullShortWrite:
            return "ディスクがいっぱいです";
        default:
            return "I/O エラー (" + std::to_string(code) + ")";
    }
}

const char* OutOfMemoryError::what() const noexcept {
    return "メモリが足りません";
}

const char* RangeError::what() const noexcept {
    return "範囲チェックエラー";
}

const char* Cancelled::what() const noexcept {
    return "cancelled";
}

}  // namespace binio
