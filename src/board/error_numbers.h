#pragma once

#include <string>
#include <string_view>

// Error numbers and descriptions shown in the error box. The numbers are part of the user documentation
// (docs/board-format.md): never renumber, only add.
namespace vantrel::errors {

struct ErrorInfo {
    int number;
    std::string_view description;
};

inline constexpr std::string_view kBoxTitle = "■エラー";

// The box's two lines: the number in decimal, then the description.
inline std::string BoxText(int number, std::string_view description)
{
    return "エラー番号：" + std::to_string(number) + "\r\nエラー内容：" + std::string(description);
}

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

// The data folder at start; the description goes on with the folder and the reason.
inline constexpr ErrorInfo kNoDataFolder{401, "データフォルダーを用意できません。"};

}  // namespace vantrel::errors
