#include "source/source_jet_file.h"

#include "common/errors.h"

#include <QFileInfo>

#include <cstring>

namespace p1::jetfile {

namespace {

constexpr int jetVersionOffset = 0x14;
constexpr std::uint8_t jet4Version = 0x01;
constexpr int maskedHeaderOffset = 0x18;
constexpr int maskedHeaderSize = 0x80;
constexpr int databaseKeyOffset = 0x3e;
constexpr char jetSignature[] = "Standard Jet DB";
constexpr int rowCountOffset = 0x0c;
constexpr int rowTableOffset = 0x0e;

// The header region is masked with RC4 under a fixed key; its database key tells whether the
// other pages are encrypted.
void unmaskHeader(std::uint8_t* region, int size)
{
    static const std::uint8_t key[4] = {0xc7, 0xda, 0x39, 0x6b};
    std::uint8_t state[256];
    for (int i = 0; i < 256; ++i)
        state[i] = std::uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + key[i % 4]) & 0xff;
        std::swap(state[i], state[j]);
    }
    for (int n = 0, i = 0, j = 0; n < size; ++n) {
        i = (i + 1) & 0xff;
        j = (j + state[i]) & 0xff;
        std::swap(state[i], state[j]);
        region[n] ^= state[(state[i] + state[j]) & 0xff];
    }
}

} // namespace

PageFile::PageFile(const QString& path) : path_(path), file_(path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw SourceError(QStringLiteral("Le fichier [%1] n'existe pas.").arg(path));
    if (!info.isFile())
        throw SourceError(QStringLiteral("Le fichier [%1] n'est pas une base de données Access.").arg(path));
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw SourceError(QStringLiteral("Le fichier [%1] ne peut pas être lu : %2")
                              .arg(path, file_.errorString()));
    checkHeader();
}

void PageFile::checkHeader()
{
    const qint64 size = file_.size();
    Page header{};
    if (size < pageSize || file_.read(reinterpret_cast<char*>(header.data()), pageSize) != pageSize
        || header[0] != 0
        || std::memcmp(header.data() + 4, jetSignature, sizeof jetSignature) != 0)
        throw SourceError(QStringLiteral("Le fichier [%1] n'est pas une base de données Access.").arg(path_));
    if (header[jetVersionOffset] != jet4Version)
        throw SourceError(QStringLiteral("Le fichier [%1] n'est pas au format Access 2000-2003 "
                                         "(Jet 4), le seul pris en charge.").arg(path_));
    unmaskHeader(header.data() + maskedHeaderOffset, maskedHeaderSize);
    if (le32(header.data() + databaseKeyOffset) != 0)
        throw SourceError(QStringLiteral("Le fichier [%1] est chiffré : ouvrez-le dans Access et "
                                         "déchiffrez-le avant l'importation.").arg(path_));
    if (size % pageSize != 0 || size / pageSize < 3)
        damaged(QStringLiteral("sa taille n'est pas un nombre entier de pages (fichier tronqué ?)"));
    pageCount_ = quint32(size / pageSize);
}

void PageFile::damaged(const QString& detail) const
{
    throw SourceDamaged(QStringLiteral("Le fichier [%1] est endommagé : %2. Réparez-le avec Access "
                                     "(Compacter et réparer) avant l'importation.").arg(path_, detail));
}

void PageFile::checkPage(quint32 page) const
{
    if (page >= pageCount_)
        damaged(QStringLiteral("la page %1 est au-delà de la fin du fichier").arg(page));
}

void PageFile::read(quint32 page, Page& into) const
{
    checkPage(page);
    if (!file_.seek(qint64(page) * pageSize)
        || file_.read(reinterpret_cast<char*>(into.data()), pageSize) != pageSize)
        damaged(QStringLiteral("la page %1 ne peut pas être lue (%2)").arg(page).arg(file_.errorString()));
}

quint32 PageFile::pointedPage(quint32 pageRow) const
{
    const quint32 page = pageRow >> 8;
    if (page == 0)
        damaged(QStringLiteral("un pointeur de ligne désigne la page d'en-tête"));
    checkPage(page);
    return page;
}

RowSpan PageFile::pointedRow(quint32 pageRow, const std::uint8_t* page) const
{
    const quint32 pageNumber = pageRow >> 8;
    const int row = int(pageRow & 0xff);
    if (page[0] != dataPage)
        damaged(QStringLiteral("un pointeur de ligne désigne la page %1, qui ne porte pas de lignes").arg(pageNumber));
    if (row >= rowCount(page))
        damaged(QStringLiteral("un pointeur de ligne désigne la ligne %1 absente de la page %2").arg(row).arg(pageNumber));
    return rowSpan(*this, page, row);
}

RowSpan PageFile::readPointedRow(quint32 pageRow, Page& into) const
{
    read(pointedPage(pageRow), into);
    return pointedRow(pageRow, into.data());
}

int rowCount(const std::uint8_t* page)
{
    return le16(page + rowCountOffset);
}

quint16 rowFlags(const std::uint8_t* page, int row)
{
    return le16(page + rowTableOffset + 2 * row) & ~rowOffsetMask;
}

RowSpan rowSpan(const PageFile& file, const std::uint8_t* page, int row)
{
    const int count = rowCount(page);
    const int tableEnd = rowTableOffset + 2 * count;
    if (row >= count || tableEnd > pageSize)
        file.damaged(QStringLiteral("une table de lignes dépasse sa page"));
    RowSpan span;
    span.start = le16(page + rowTableOffset + 2 * row) & rowOffsetMask;
    span.end = row == 0 ? pageSize : le16(page + rowTableOffset + 2 * (row - 1)) & rowOffsetMask;
    if (span.start < tableEnd || span.end <= span.start || span.end > pageSize)
        file.damaged(QStringLiteral("la ligne %1 d'une page a des limites impossibles").arg(row));
    return span;
}

} // namespace p1::jetfile
