#include "TamberloMac/Shell/LocalizationTables.h"

namespace tamberlo::detail {

namespace {

// Every text of the editor, in its English form. The Chinese table holds the same keys.
const LocalizationTable& englishTable() {
    static const LocalizationTable table{
        // Window commands and tooltips
        {"添加", "Add"},
        {"导出", "Export"},
        {"账号", "Account"},
        {"播放", "Play"},
        {"静音", "Mute"},
        {"播放头处拆分", "Split at Playhead"},
        {"删除", "Delete"},
        {"撤销", "Undo"},
        {"重做", "Redo"},
        {"淡入", "Fade In"},
        {"淡出", "Fade Out"},
        {"拆分成功", "Split done"},
        {"没有可以播放的音轨", "There is no track to play"},
        {"选中的音频", "Selected Audio"},
        {"选中的音乐", "Selected Music"},
        {"用的怎么样？给点意见吧！", "How do you like it? Tell us what you think!"},
        {"去评价", "Rate"},
        // Track rows
        {"只听", "Solo"},
        {"音量", "Volume"},
        {"复制音轨", "Copy Track"},
        {"删除音轨", "Delete Track"},
        {"确认删除音轨？", "Delete this track?"},
        {"确定", "OK"},
        {"取消", "Cancel"},
        // Export
        {"导出设置", "Export Settings"},
        {"*注意：导出时只导出所有播放的音轨", "*Note: only the tracks that play are exported"},
        {"格式:", "Format:"},
        {"存储", "Save"},
        {"保存为...", "Save As..."},
        {"正在渲染音轨...", "Rendering tracks..."},
        {"格式转换中...", "Converting format..."},
        {"导出成功", "Export succeeded"},
        {"导出失败", "Export failed"},
        {"没有可以导出的内容", "Nothing to export"},
        // Import
        {"导入失败", "Import failed"},
        // Label separators
        {"：", ": "},
        // Application shell and menus
        {"请确认制作的音乐已导出，确认关闭工程吗？",
         "Make sure your music has been exported. Close the project?"},
        {"帮助", "Help"},
        {"Tamberlo 帮助", "Tamberlo Help"},
        {"意见反馈", "Feedback"},
        {"关闭窗口", "Close Window"},
        {"退出 Tamberlo", "Quit Tamberlo"},
        // Feedback sheet
        {"您在使用软件过程中感受如何？", "How do you feel about the software?"},
        {"满意", "Satisfied"},
        {"不满意", "Not satisfied"},
        {"请描述您在使用我们的产品过程中所遇到的问题或者建议，我们会时刻关注，并不断优化。",
         "Describe a problem you met or a suggestion you have: we read every message and keep improving."},
        {"联系方式", "Contact"},
        {"QQ/Email/电话号码（可选）", "QQ/Email/Phone number (optional)"},
        {"提交", "Submit"},
        {"请输入反馈信息或选择满意度", "Enter your feedback or choose how satisfied you are"},
        {"反馈文本太长", "The feedback is too long"},
        {"提交失败，在稍后再次尝试", "Sending failed, please try again later"},
    };
    return table;
}

const LocalizationTable& simplifiedChineseTable() {
    static const LocalizationTable table = [] {
        LocalizationTable identity;
        for (const auto& [key, english] : englishTable()) identity.emplace(key, key);
        return identity;
    }();
    return table;
}

}  // namespace

const LocalizationTable* localizationTable(const std::string& localization) {
    if (localization == "en") return &englishTable();
    if (localization == "zh-Hans") return &simplifiedChineseTable();
    return nullptr;
}

}  // namespace tamberlo::detail
