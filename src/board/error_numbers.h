#pragma once

#include <string_view>

// Error numbers and descriptions shown in the error box. The numbers are part of the user documentation
// (docs/board-format.md): never renumber, only add.
namespace vantrel::errors {

struct ErrorInfo {
    int number;
    std::string_view description;
};

// Opening and reading the board file.
inline constexpr ErrorInfo kFileNotFound{101, "ボードファイルが見つかりません。"};
inline constexpr ErrorInfo kPathIsFolder{102, "ボードファイルのパスがフォルダーを指しています。"};
inline constexpr ErrorInfo kPermissionDenied{103, "ボードファイルを開く権限がありません。"};
inline constexpr ErrorInfo kReadError{104, "ボードファイルを読み込めません。"};
inline constexpr ErrorInfo kOutOfMemory{105, "ボードファイルを読み込むためのメモリが足りません。"};

// Board syntax.
inline constexpr ErrorInfo kInputPastEndOfFile{
    201, "入力がファイルの終わりを越えました（レコードの項目が4つに足りません）。"};
inline constexpr ErrorInfo kTypeMismatch{202, "型が一致しません（フィードの種類が数値ではありません）。"};

// Feed tree and other keyed or indexed models.
inline constexpr ErrorInfo kKeyNotUnique{301, "キーが重複しています。"};
inline constexpr ErrorInfo kElementNotFound{302, "親のキーを持つ要素が見つかりません。"};
inline constexpr ErrorInfo kTreeFull{303, "ノードの数が上限の32767に達しています。"};
inline constexpr ErrorInfo kIndexOutOfBounds{304, "インデックスが範囲外です。"};

}  // namespace vantrel::errors
