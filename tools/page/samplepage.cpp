#include "samplepage.h"

namespace pagetool {

QString samplePage()
{
    // One paragraph after the other with nothing between them: a line break
    // between two paragraphs would end up in the change log and the push
    // text, and one between the file heading and the first entry breaks the
    // file list. The head must not hold "Ver" (no Verdana in a style sheet).
    return QStringLiteral(
        "<!DOCTYPE html>\n"
        "<html lang=\"zh-CN\">\n"
        "<head>\n"
        "<meta charset=\"utf-8\">\n"
        "<title>Mosalune 发布页</title>\n"
        "</head>\n"
        "<body>\n"
        "<div class=\"article\">"
        "<p><strong>Ver13.04.21</strong></p>"
        "<p><strong>更新日志</strong></p>"
        "<p><span style=\"color: #ff0000;\">修复了部分 GIF 图片无法载入的问题</span></p>"
        "<p>切图速度提高一倍&nbsp;&nbsp;</p>"
        "<p><span style=\"color: #000000;\">更新窗口改为居中显示</span></p>"
        "<p><strong>更新文件及地址：</strong></p>"
        "<p>1、MSLUpdate.exe(<a href=\"https://share.example.com/s/7Qm2?pwd=ms13&amp;lang=zh\" "
        "target=\"_blank\">https://share.example.com/s/7Qm2?pwd=ms13&amp;lang=zh</a>)</p>"
        "<p>2、Mosalune.exe(<a href=\"https://share.example.com/s/9Kx4?pwd=ms13&amp;lang=zh\" "
        "target=\"_blank\">https://share.example.com/s/9Kx4?pwd=ms13&amp;lang=zh</a>)</p>"
        "<p><strong>消息推送：开</strong></p>"
        "<p><span style=\"color: #ff0000;\">Mosalune 13.04.21 已发布，</span>请及时更新。</p>"
        "<p>新版切图更快，欢迎试用&nbsp;!</p>"
        "<p>最新完整版：<a href=\"https://mosalune.example.com/download\" "
        "target=\"_blank\">官网下载</a></p>"
        "</div>\n"
        "</body>\n"
        "</html>\n");
}

} // namespace pagetool
