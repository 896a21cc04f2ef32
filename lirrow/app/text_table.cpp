// The three built-in text tables and the key names. The texts are the
// program's own words; leading and trailing blanks are part of them.
#include "text_table.h"

namespace lirrow {

namespace {

const wchar_t* const kKeyNames[kTextCount] = {
    L"OvkToPcm",
    L"NotSuport",
    L"Mp3OutputErr",
    L"WavOutputErr",
    L"PcmToMp3",
    L"BinToPcm",
    L"OvkToBin",
    L"PcmToStereo",
    L"NotFindExeFile",
    L"CreateFileFailed",
    L"NoEnoughSapce",
    L"ConvertErr",
    L"About",
    L"Title",
    L"ID_EXIT",
    L"IDC_BTN_HELP",
    L"IDC_MP3",
    L"IDC_OPEN",
    L"IDC_WAV",
    L"IDC_BTN_START",
    L"IDC_SC_OUTPUT",
    L"AboutTitle",
    L"AboutIDOK",
    L"AboutIDC_STATIC1",
    L"AboutIDC_STATIC2",
    L"HelpIDOK",
    L"HelpTitle",
    L"InforIDCANCEL",
    L"AppNoMsdxm",
    L"HelpFile",
    L"BadFormatFile",
    L"IconFile",
};

const TextTable& EnglishTable() {
  // One text a line, its key beside it.
  // clang-format off
  static const TextTable table = {{
      L"Converting rcd/rec/ovk file to WAV ...",                     // OvkToPcm
      L"Can not open this file or unsupport format!",                // NotSuport
      L"Output .MP3 file error!",                                    // Mp3OutputErr
      L"Output .WAV file error!",                                    // WavOutputErr
      L"      Encoding WAV to MP3...",                               // PcmToMp3
      L"Converting bistream to WAV ...",                             // BinToPcm
      L"Converting rcd/rec/ovk file to Bitstream ...",               // OvkToBin
      L"Converting WAV to Stereo...",                                // PcmToStereo
      L"Can't find above file,Please copy it to %s.",                // NotFindExeFile
      L"Failed to create file!please check disk has enough space!",  // CreateFileFailed
      L"Successed to create file,but can't write data to file, please check disk has "
      L"enough space!",                                                   // NoEnoughSapce
      L"Failed to convert file!Perhaps have no enough space for write!",  // ConvertErr
      L"About Lirrow Tool",                                               // About
      L"Lirrow Tool 2.0",                                                 // Title
      L"Exit",                                                            // ID_EXIT
      L"Help",                                                            // IDC_BTN_HELP
      L"Output .MP3 file",                                                // IDC_MP3
      L"Open",                                                            // IDC_OPEN
      L"Output .WAV file",                                                // IDC_WAV
      L"Convert",                                                         // IDC_BTN_START
      L"Output Options",                                                  // IDC_SC_OUTPUT
      L"About Lirrow Tool",                                               // AboutTitle
      L"OK",                                                              // AboutIDOK
      L"Lirrow Version 2.0",                                    // AboutIDC_STATIC1
      L"Copyright (C) 2003 Lirrow Tool. All rights reserved.",  // AboutIDC_STATIC2
      L"Exit",                                                  // HelpIDOK
      L"Help",                                                  // HelpTitle
      L"Cancel",                                                // InforIDCANCEL
      L"Windows System have not \"msdxm.ocx\" file,Please copy it and register!Program "
      L"exited.",           // AppNoMsdxm
      L"helpen.htm",        // HelpFile
      L"Unsupport Format",  // BadFormatFile
      L"",                  // IconFile
  }};
  // clang-format on
  return table;
}

const TextTable& SimplifiedTable() {
  // One text a line, its key beside it.
  // clang-format off
  static const TextTable table = {{
      L"正在将rcd/rec/ovk文件转换为WAV文件...",                   // OvkToPcm
      L"不能打开这个文件或不支持的文件格式！",                    // NotSuport
      L"输出MP3文件时出错！",                                     // Mp3OutputErr
      L"输出WAV文件时出错！",                                     // WavOutputErr
      L"正在将WAV文件转换为MP3文件...",                           // PcmToMp3
      L"正在将二进制流文件转换为WAV文件 ...",                     // BinToPcm
      L"正在将rcd/rec/ovk文件转换为二进制文件流...",              // OvkToBin
      L"正在将WAV文件转换为立体声文件...",                        // PcmToStereo
      L"目录中没有找到上面的文件!",                               // NotFindExeFile
      L"创建文件时失败!请检查磁盘空间是否足够!",                  // CreateFileFailed
      L"成功创建文件,但写入数据时失败，请检查磁盘空间是否足够!",  // NoEnoughSapce
      L"转换失败！可能是空间不够！",                              // ConvertErr
      L"关于Lirrow工具",                                          // About
      L"Lirrow工具2.0",                                           // Title
      L"退出",                                                    // ID_EXIT
      L"帮助",                                                    // IDC_BTN_HELP
      L"输出 .MP3文件",                                           // IDC_MP3
      L"打开",                                                    // IDC_OPEN
      L"输出 .WAV文件",                                           // IDC_WAV
      L"转换",                                                    // IDC_BTN_START
      L"输出选项",                                                // IDC_SC_OUTPUT
      L"关于Lirrow工具",                                          // AboutTitle
      L"确定",                                                    // AboutIDOK
      L"Lirrow工具 2.0",                                          // AboutIDC_STATIC1
      L"版权所有 (C) 2003 Lirrow工具。保留所有权利。",            // AboutIDC_STATIC2
      L"退出",                                                    // HelpIDOK
      L"帮助",                                                    // HelpTitle
      L"取消",                                                    // InforIDCANCEL
      L"Windows系统没有 \"msdxm.ocx\" 文件，请拷贝到system目录并注册!程序已退出!",  // AppNoMsdxm
      L"helpch.htm",                                                                // HelpFile
      L"不支持此格式",                                                              // BadFormatFile
      L"",                                                                          // IconFile
  }};
  // clang-format on
  return table;
}

const TextTable& TraditionalTable() {
  // One text a line, its key beside it.
  // clang-format off
  static const TextTable table = {{
      L"正在將rcd/rec/ovk 文件轉換為WAV文件...",                            // OvkToPcm
      L"不能打開這個文件或不支持的文件格式！",                              // NotSuport
      L"輸出MP3 文件時出錯！",                                              // Mp3OutputErr
      L"輸出WAV 文件時出錯！",                                              // WavOutputErr
      L"正在將WAV文件轉換為MP3文件...",                                     // PcmToMp3
      L"正在將rcd/rec/ovk 文件轉換為WAV文件...",                            // BinToPcm
      L"正在將rcd/rec/ovk文件轉換為二進制文件流...",                        // OvkToBin
      L"正在將WAV文件轉換為立體聲文件...",                                  // PcmToStereo
      L"沒有找到上面的文件，請考貝到下列目錄.",                             // NotFindExeFile
      L"創建文件時失敗！請檢查磁盤空間是否足夠！",                          // CreateFileFailed
      L"成功創建文件，但在寫入數據時發生不明錯，請檢查磁盤空間是否足夠！",  // NoEnoughSapce
      L"轉換失敗！可能是空間不夠！",                                        // ConvertErr
      L"關於Lirrow工具",                                                    // About
      L"Lirrow工具2.0",                                                     // Title
      L" 退出",                                                             // ID_EXIT
      L" 幫助",                                                             // IDC_BTN_HELP
      L" 輸出 .MP3文件",                                                    // IDC_MP3
      L" 打開",                                                             // IDC_OPEN
      L" 輸出 .WAV文件",                                                    // IDC_WAV
      L"轉換",                                                              // IDC_BTN_START
      L"輸出選項",                                                          // IDC_SC_OUTPUT
      L"關於Lirrow工具 ",                                                   // AboutTitle
      L"確定",                                                              // AboutIDOK
      L"Lirrow工具 2.0",                                                    // AboutIDC_STATIC1
      L"版權所有 (C) 2003 Lirrow工具。保留所有權利。",                      // AboutIDC_STATIC2
      L"退出",                                                              // HelpIDOK
      L"幫助",                                                              // HelpTitle
      L"取消",                                                              // InforIDCANCEL
      L"Windows系統沒有 \"msdxm.ocx\" 文件，請拷貝到system目錄並注冊！程序已退出！",  // AppNoMsdxm
      L"helpfan.htm",                                                                 // HelpFile
      L"不支持此格式",  // BadFormatFile
      L"",              // IconFile
  }};
  // clang-format on
  return table;
}

}  // namespace

const wchar_t* TextKeyName(TextKey key) {
  const auto i = static_cast<std::size_t>(key);
  return i < kTextCount ? kKeyNames[i] : L"";
}

const TextTable& EnglishTexts() { return EnglishTable(); }
const TextTable& SimplifiedChineseTexts() { return SimplifiedTable(); }
const TextTable& TraditionalChineseTexts() { return TraditionalTable(); }

}  // namespace lirrow
