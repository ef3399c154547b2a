#include "host/DemoCatalogue.h"

#include "routes/FormCodec.h"
#include "store/BookStorage.h"
#include "store/Categories.h"
#include "store/Store.h"

#include <QRandomGenerator>
#include <QStringList>

#include <archive.h>
#include <archive_entry.h>

namespace DemoCatalogue {

namespace {

// Title halves per category, in category order.
const char *const kTitleParts[10][2][8] = {
    {{"青云", "剑影", "逍遥", "天涯", "孤鸿", "碧血", "风雷", "听雪"},
     {"剑歌", "侠客行", "仙途", "江湖志", "刀客", "问道录", "游仙记", "拂衣去"}},
    {{"星辰", "太古", "混沌", "九霄", "万界", "玄天", "苍穹", "不灭"},
     {"神帝", "战尊", "道主", "修真录", "圣王", "丹帝", "剑尊", "武神"}},
    {{"都市", "半城", "春风", "初见", "南城", "晚风", "月光", "时光"},
     {"恋人", "烟火", "旧梦", "情书", "微光", "往事", "向你", "慢慢"}},
    {{"网游", "幻想", "电竞", "像素", "次元", "全服", "迷宫", "机甲"},
     {"之王", "纪元", "少年", "传说", "冒险团", "大师", "攻略", "勇者"}},
    {{"大唐", "铁血", "三国", "长安", "烽火", "大明", "边关", "汉家"},
     {"风云", "将军", "谋士", "山河", "战旗", "王朝", "英雄", "春秋"}},
    {{"午夜", "古宅", "雨夜", "迷雾", "诡影", "无声", "白骨", "镜中"},
     {"疑案", "怪谈", "密室", "侦探", "迷踪", "来客", "笔记", "秘闻"}},
    {{"寻常", "山乡", "远行", "岁月", "大地", "小镇", "一代", "人间"},
     {"纪事", "手记", "见闻", "人生", "往事", "流年", "札记", "实录"}},
    {{"趣味", "轻松", "入门", "实用", "图解", "一日", "从零", "高效"},
     {"数学", "写作", "英语", "编程", "历史课", "学习法", "笔记术", "读书法"}},
    {{"管理", "领导", "人生", "商道", "处世", "决策", "问心", "修身"},
     {"之道", "智慧", "随笔", "哲思", "三十讲", "心法", "札记", "十二课"}},
    {{"杂谈", "闲话", "拾遗", "清风", "浮生", "随缘", "四季", "烟雨"},
     {"小集", "杂记", "散文", "漫笔", "闲笔", "笔谈", "旧事", "小品"}},
};

const char *const kSurnames[] = {"李", "王", "张", "刘", "陈", "杨", "赵", "黄", "周", "吴", "林", "萧", "唐", "叶"};
const char *const kGivenNames[] = {"青山", "无忌", "墨白", "长风", "若水", "知秋", "天行", "小鱼",
                                   "半夏", "南星", "云起", "子安", "一笑", "听雨", "寒舟", "明月"};
const char *const kHeadingWords[] = {"初入江湖", "风起云涌", "夜雨孤灯", "故人来信", "山门试炼", "暗流涌动",
                                     "一线生机", "月下对饮", "意外之喜", "千钧一发", "尘埃落定", "再起波澜",
                                     "远方来客", "旧梦重温", "破茧而出", "峰回路转"};
const char *const kSentences[] = {
    "天色渐渐暗了下来，远处的山峦只剩下一道模糊的轮廓。",
    "他站在窗前，久久没有说话。",
    "街角的小店亮起了灯，空气里飘着饭菜的香气。",
    "谁也没有想到，事情会在这一天发生转机。",
    "她轻轻叹了口气，把那封信又读了一遍。",
    "风从山谷里吹来，带着一点潮湿的凉意。",
    "众人面面相觑，一时间竟无人开口。",
    "“你终于来了。”老人抬起头，目光平静。",
    "这一路走来，他已经记不清经历了多少风雨。",
    "桌上的茶早已凉了，却没有人去续。",
    "远处传来几声犬吠，村子又恢复了寂静。",
    "他握紧了手中的剑，心里却出奇地平静。",
    "窗外的雨一直下着，仿佛永远不会停。",
    "那是一个再普通不过的早晨，阳光照在青石板上。",
    "她笑了笑，没有再问下去。",
    "几个孩子在巷子里追逐打闹，笑声传得很远。",
    "直到很多年以后，他仍然记得那天的情景。",
    "城门缓缓打开，一队人马疾驰而入。",
    "他翻开书页，发现里面夹着一张泛黄的纸条。",
    "夜深了，灯火一盏一盏地熄灭。",
    "这件事若是传了出去，只怕要掀起一场风波。",
    "他深吸一口气，推开了那扇沉重的木门。",
    "湖面上起了一层薄雾，看不清对岸的景色。",
    "每个人心里都有自己的打算，只是没有说出口。",
};

template <size_t N> QString pick(const char *const (&list)[N], QRandomGenerator &random)
{
    return QString::fromUtf8(list[random.bounded(int(N))]);
}

la_ssize_t appendToArray(archive *, void *data, const void *buffer, size_t length)
{
    static_cast<QByteArray *>(data)->append(static_cast<const char *>(buffer), qsizetype(length));
    return la_ssize_t(length);
}

} // namespace

QString chineseNumber(int n)
{
    static const QString digits = QStringLiteral("零一二三四五六七八九");
    static const QString units[] = {QString(), QStringLiteral("十"), QStringLiteral("百"), QStringLiteral("千")};
    if (n <= 0 || n > 9999)
        return QString::number(n);
    QString out;
    bool pendingZero = false;
    for (int unit = 3; unit >= 0; --unit) {
        int divisor = 1;
        for (int i = 0; i < unit; ++i)
            divisor *= 10;
        const int digit = (n / divisor) % 10;
        if (digit == 0) {
            if (!out.isEmpty())
                pendingZero = true;
            continue;
        }
        if (pendingZero)
            out += digits[0];
        pendingZero = false;
        // "十二" rather than "一十二" when the number starts in the tens.
        if (!(digit == 1 && unit == 1 && out.isEmpty()))
            out += digits[digit];
        out += units[unit];
    }
    return out;
}

QByteArray novelText(const QString &title, const QString &author, int chapters, quint32 seed)
{
    QRandomGenerator random(seed);
    QString text;
    text += title + QStringLiteral("\r\n作者：") + author + QStringLiteral("\r\n\r\n");
    for (int c = 1; c <= chapters; ++c) {
        text += QStringLiteral("第%1章 %2\r\n\r\n").arg(chineseNumber(c), pick(kHeadingWords, random));
        const int paragraphs = 10 + random.bounded(12);
        for (int p = 0; p < paragraphs; ++p) {
            text += QStringLiteral("　　");
            const int sentences = 2 + random.bounded(4);
            for (int s = 0; s < sentences; ++s)
                text += pick(kSentences, random);
            text += QStringLiteral("\r\n");
        }
        text += QStringLiteral("\r\n");
    }
    text += QStringLiteral("（全书完）\r\n");
    return FormCodec::toGb18030(text);
}

QByteArray zipArchive(const QList<QPair<QString, QByteArray>> &files)
{
    QByteArray out;
    archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_set_options(a, "zip:hdrcharset=UTF-8");
    archive_write_open2(a, &out, nullptr, appendToArray, nullptr, nullptr);
    for (const auto &[path, bytes] : files) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, path.toUtf8().constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, bytes.size());
        archive_entry_set_mtime(entry, 1700000000, 0);
        archive_write_header(a, entry);
        archive_write_data(a, bytes.constData(), size_t(bytes.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return out;
}

int seedIfEmpty(Store &store, const QString &booksDir, QString *error)
{
    const qint64 existing = store.catalogue().countBooks();
    if (existing < 0) {
        *error = store.lastError();
        return -1;
    }
    if (existing > 0)
        return 0;

    QRandomGenerator random(20240307);
    BookStorage storage(store, booksDir);
    const QStringList categories = Categories::names();
    const int total = kBooksPerCategory * int(categories.size());
    const QDateTime base = QDateTime::currentDateTime().addDays(-total);
    QStringList used;
    int added = 0;
    for (int i = 0; i < total; ++i) {
        // Interleave the categories so every page of "全部资源" mixes them.
        const int category = i % int(categories.size());
        const int round = i / int(categories.size());
        QString title = QString::fromUtf8(kTitleParts[category][0][round % 8]) +
                        QString::fromUtf8(kTitleParts[category][1][(round * 3 + category) % 8]);
        if (used.contains(title))
            title += chineseNumber(round + 1);
        used.append(title);
        const QString author = pick(kSurnames, random) + pick(kGivenNames, random);
        const QByteArray text = novelText(title, author, 6 + random.bounded(20), random.generate());

        BookRow row;
        row.name = title;
        row.author = author;
        row.category = categories[category];
        row.status = i % 4 == 1 ? QStringLiteral("连载") : QStringLiteral("全集");
        row.newestChapter = row.status == u"连载" ? QStringLiteral("第%1章").arg(chineseNumber(6)) : QString();
        row.memo = QStringLiteral("演示用的示例小说。");
        row.updated = storeTime(base.addDays(i).addSecs(random.bounded(86400)));
        row.review = Review::Approved;

        QByteArray bytes;
        if (i % 3 == 2) {
            row.fileName = title + QStringLiteral(".zip");
            bytes = zipArchive({{title + u'/' + title + QStringLiteral(".txt"), text}});
        } else {
            row.fileName = title + QStringLiteral(".txt");
            bytes = text;
        }
        if (storage.add(row, {bytes, {}}, {}, error) <= 0)
            return -1;
        ++added;
    }
    return added;
}

} // namespace DemoCatalogue
