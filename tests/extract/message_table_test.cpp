// The texts the launcher shows, byte for byte in code page 932, and the shape
// of the two tables. Expected bytes are spelled out in hex so that they do not
// depend on how this file is compiled.
#include "extract/message_table.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "common/entry_table.h"
#include "common/language_index.h"

namespace {

std::string Ui(int32_t id) { return GetText(0, id); }
std::string Error(int32_t id) { return GetErrorText(0, id); }

// True when text is well-formed code page 932: every lead byte has a trail
// byte and the whole converts without an invalid character.
bool IsCp932(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (IsDBCSLeadByteEx(932, static_cast<BYTE>(*p)) && *++p == '\0') return false;
  }
  const int length = static_cast<int>(strlen(text));
  return length == 0 ||
         MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, length, nullptr, 0) > 0;
}

TEST(MessageTable, DialogTextsAreExactCp932Bytes) {
  // インストールを行う準備をしています。\nしばらくお待ちください。
  EXPECT_EQ(Ui(TEXT_PREPARING),
            "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x82\xF0\x8D\x73"
            "\x82\xA4\x8F\x80\x94\xF5\x82\xF0\x82\xB5\x82\xC4\x82\xA2\x82\xDC"
            "\x82\xB7\x81\x42\x0A\x82\xB5\x82\xCE\x82\xE7\x82\xAD\x82\xA8\x91"
            "\xD2\x82\xBF\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42");
  // セットアップ
  EXPECT_EQ(Ui(TEXT_SETUP_CAPTION), "\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76");
  // ゼフラクエストＱＸ(体験版Ｂ): full-width Q, X and B, half-width brackets
  EXPECT_EQ(Ui(TEXT_DIALOG_TITLE),
            "\x83\x5B\x83\x74\x83\x89\x83\x4E\x83\x47\x83\x58\x83\x67\x82\x70"
            "\x82\x77\x28\x91\xCC\x8C\xB1\x94\xC5\x82\x61\x29");
  // インストールを中断します。よろしいですか？
  EXPECT_EQ(Ui(TEXT_CANCEL_QUESTION),
            "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x82\xF0\x92\x86"
            "\x92\x66\x82\xB5\x82\xDC\x82\xB7\x81\x42\x82\xE6\x82\xEB\x82\xB5"
            "\x82\xA2\x82\xC5\x82\xB7\x82\xA9\x81\x48");
  // インストールしたデータを削除しています。\nしばらくお待ちください (no final stop)
  EXPECT_EQ(Ui(TEXT_REMOVING),
            "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x82\xB5\x82\xBD"
            "\x83\x66\x81\x5B\x83\x5E\x82\xF0\x8D\xED\x8F\x9C\x82\xB5\x82\xC4"
            "\x82\xA2\x82\xDC\x82\xB7\x81\x42\x0A\x82\xB5\x82\xCE\x82\xE7\x82"
            "\xAD\x82\xA8\x91\xD2\x82\xBF\x82\xAD\x82\xBE\x82\xB3\x82\xA2");
  // キャンセル
  EXPECT_EQ(Ui(TEXT_CANCEL_BUTTON), "\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B");
  // ＯＫ, full-width
  EXPECT_EQ(Ui(47), "\x82\x6E\x82\x6A");
}

TEST(MessageTable, DialogErrorTextsAreExactCp932Bytes) {
  // インストールを開始できませんでした。\nインストールを終了します。
  EXPECT_EQ(Error(ERROR_TEXT_START_FAILED),
            "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x82\xF0\x8A\x4A"
            "\x8E\x6E\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5"
            "\x82\xBD\x81\x42\x0A\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83"
            "\x8B\x82\xF0\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81\x42");
  // インストールに失敗しました。\nインストールを中断します。
  EXPECT_EQ(Error(ERROR_TEXT_INSTALL_FAILED),
            "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x82\xC9\x8E\xB8"
            "\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\x0A\x83\x43\x83"
            "\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x82\xF0\x92\x86\x92\x66\x82"
            "\xB5\x82\xDC\x82\xB7\x81\x42");
  // ドライブの空き容量が足りません。\nインストールを中断します。
  EXPECT_EQ(Error(ERROR_TEXT_DISK_FULL),
            "\x83\x68\x83\x89\x83\x43\x83\x75\x82\xCC\x8B\xF3\x82\xAB\x97\x65"
            "\x97\xCA\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42"
            "\x0A\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x82\xF0\x92"
            "\x86\x92\x66\x82\xB5\x82\xDC\x82\xB7\x81\x42");
  // セットアップファイルが破損しています。\n新しいファイルを入手して、もう一度実行してください。
  EXPECT_EQ(Error(ERROR_TEXT_DAMAGED),
            "\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76\x83\x74\x83\x40"
            "\x83\x43\x83\x8B\x82\xAA\x94\x6A\x91\xB9\x82\xB5\x82\xC4\x82\xA2"
            "\x82\xDC\x82\xB7\x81\x42\x0A\x90\x56\x82\xB5\x82\xA2\x83\x74\x83"
            "\x40\x83\x43\x83\x8B\x82\xF0\x93\xFC\x8E\xE8\x82\xB5\x82\xC4\x81"
            "\x41\x82\xE0\x82\xA4\x88\xEA\x93\x78\x8E\xC0\x8D\x73\x82\xB5\x82"
            "\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42");
}

TEST(MessageTable, ContentDescribedTextsHaveTheirLengthsAndHeadings) {
  EXPECT_EQ(Ui(4).size(), 344u);
  EXPECT_EQ(Ui(7).size(), 338u);
  EXPECT_EQ(Ui(11).size(), 192u);
  EXPECT_EQ(Ui(18).size(), 223u);
  EXPECT_EQ(Ui(136).size(), 3764u);
  // ～ショートカットキー～ and ～インストールをする前に～ open with the
  // code-page-932 wave dash 81 60, not a JIS mapping of it.
  EXPECT_EQ(Ui(4).rfind("\x81\x60\x83\x56\x83\x87\x81\x5B\x83\x67\x83\x4A\x83\x62\x83\x67"
                        "\x83\x4C\x81\x5B\x81\x60\x0A", 0), 0u);
  EXPECT_EQ(Ui(7).rfind("\x81\x60\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x82\xF0"
                        "\x82\xB7\x82\xE9\x91\x4F\x82\xC9\x81\x60\x0A", 0), 0u);
  // The licence step names the product as the dialog title does.
  EXPECT_NE(Ui(11).find(Ui(TEXT_DIALOG_TITLE)), std::string::npos);
}

TEST(MessageTable, LineBreaksAreLfExceptCrLfInTheLicence) {
  const std::string licence = Ui(136);
  size_t lines = 0;
  for (size_t i = 0; i < licence.size(); ++i) {
    if (licence[i] == '\n') {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(licence[i - 1], '\r') << "at byte " << i;
      ++lines;
    } else if (licence[i] == '\r') {
      ASSERT_LT(i + 1, licence.size());
      EXPECT_EQ(licence[i + 1], '\n') << "at byte " << i;
    }
  }
  EXPECT_GT(lines, 10u);
  for (int32_t id = 0; id < UI_TEXT_COUNT - 1; ++id) {
    EXPECT_EQ(Ui(id).find('\r'), std::string::npos) << "interface text " << id;
  }
  for (int32_t id = 0; id < ERROR_TEXT_COUNT; ++id) {
    EXPECT_EQ(Error(id).find('\r'), std::string::npos) << "error text " << id;
  }
}

TEST(MessageTable, EveryTextIsPresentAndWellFormedCp932) {
  for (int32_t id = 0; id < UI_TEXT_COUNT; ++id) {
    const char* text = GetText(0, id);
    ASSERT_NE(text, nullptr) << "interface text " << id;
    EXPECT_NE(text[0], '\0') << "interface text " << id;
    EXPECT_TRUE(IsCp932(text)) << "interface text " << id;
  }
  for (int32_t id = 0; id < ERROR_TEXT_COUNT; ++id) {
    const char* text = GetErrorText(0, id);
    ASSERT_NE(text, nullptr) << "error text " << id;
    EXPECT_NE(text[0], '\0') << "error text " << id;
    EXPECT_TRUE(IsCp932(text)) << "error text " << id;
  }
}

TEST(MessageTable, SharedIdsShareOneString) {
  EXPECT_EQ(GetText(0, 60), GetText(0, 39));
  EXPECT_EQ(Ui(39), "\x8F\xDA\x8D\xD7\x90\xDD\x92\xE8");  // 詳細設定
  EXPECT_EQ(GetText(0, 129), GetText(0, 61));
  EXPECT_EQ(Ui(61), "\x95\xC2\x82\xB6\x82\xE9");  // 閉じる
  for (int32_t id = 115; id <= 125; ++id) {
    EXPECT_EQ(GetText(0, id), GetText(0, 115)) << "id " << id;
  }
  EXPECT_STREQ(GetText(0, 115), " ");
  // Neighbours of the shared runs are texts of their own.
  EXPECT_NE(GetText(0, 114), GetText(0, 115));
  EXPECT_NE(GetText(0, 126), GetText(0, 125));
}

TEST(MessageTable, LookupsOutsideTheTablesGiveAnEmptyText) {
  const int32_t languages[] = {-1, LanguageCount, 2, INT32_MIN, INT32_MAX};
  for (int32_t language : languages) {
    EXPECT_STREQ(GetText(language, 0), "") << "language " << language;
    EXPECT_STREQ(GetErrorText(language, 0), "") << "language " << language;
  }
  const int32_t uiIds[] = {-1, UI_TEXT_COUNT, UI_TEXT_COUNT + 1, INT32_MIN, INT32_MAX};
  for (int32_t id : uiIds) EXPECT_STREQ(GetText(0, id), "") << "interface id " << id;
  const int32_t errorIds[] = {-1, ERROR_TEXT_COUNT, UI_TEXT_COUNT, INT32_MIN, INT32_MAX};
  for (int32_t id : errorIds) EXPECT_STREQ(GetErrorText(0, id), "") << "error id " << id;
  // The last ids inside are still found.
  EXPECT_EQ(Ui(UI_TEXT_COUNT - 1).size(), 3764u);
  EXPECT_NE(Error(ERROR_TEXT_COUNT - 1), "");
}

}  // namespace
