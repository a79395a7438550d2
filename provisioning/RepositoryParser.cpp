#include "provisioning/RepositoryParser.h"

#include <QXmlStreamReader>

using namespace Qt::Literals::StringLiterals;

namespace {
// "sdk:license" and "license" are the same element to us.
QString localName(QStringView qualified) {
    const auto pieces = qualified.split(u':', Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.last().toString();
}

qint64 integerOr0(const QString& text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? value : 0;
}
} // namespace

bool RepositoryParser::parse(const QByteArray& document) {
    QXmlStreamReader reader(document);
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            startElement(localName(reader.qualifiedName()), reader.attributes());
            break;
        case QXmlStreamReader::EndElement:
            endElement(localName(reader.qualifiedName()));
            break;
        case QXmlStreamReader::Characters:
            m_text += reader.text();
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        m_error = reader.errorString();
        return false;
    }
    return true;
}

void RepositoryParser::startElement(const QString& name, const QXmlStreamAttributes& attributes) {
    m_text.clear();
    if (name == "license"_L1) {
        m_licenseID = attributes.hasAttribute("id"_L1) ? std::optional(attributes.value("id"_L1).toString())
                                                       : std::nullopt;
    } else if (name == "remotePackage"_L1) {
        m_current = Package{attributes.value("path"_L1).toString(), {}, {}, {}, {}, {}};
    } else if (name == "uses-license"_L1) {
        if (m_current) m_current->licenseRef = attributes.value("ref"_L1).toString();
    } else if (name == "channelRef"_L1) {
        if (m_current) m_current->channel = attributes.value("ref"_L1).toString();
    } else if (name == "revision"_L1) {
        if (m_current && !m_archive) {
            m_inRevision = true;
            m_revisionParts.clear();
        }
    } else if (name == "archive"_L1) {
        m_archive = Archive{};
    }
}

void RepositoryParser::endElement(const QString& name) {
    const QString trimmed = m_text.trimmed();
    if (name == "license"_L1) {
        if (m_licenseID) licenses.insert(*m_licenseID, m_text);
        m_licenseID.reset();
    } else if (name == "major"_L1 || name == "minor"_L1 || name == "micro"_L1 || name == "preview"_L1) {
        if (m_inRevision) m_revisionParts.insert(name, int(integerOr0(trimmed)));
    } else if (name == "revision"_L1) {
        if (m_inRevision) {
            if (m_current)
                m_current->revision = {m_revisionParts.value(u"major"_s), m_revisionParts.value(u"minor"_s),
                                       m_revisionParts.value(u"micro"_s)};
            m_inRevision = false;
        }
    } else if (name == "display-name"_L1) {
        if (m_current && !m_archive) m_current->displayName = trimmed;
    } else if (name == "url"_L1) {
        if (m_archive) m_archive->url = trimmed;
    } else if (name == "size"_L1) {
        if (m_archive) m_archive->size = integerOr0(trimmed);
    } else if (name == "checksum"_L1) {
        if (m_archive) m_archive->sha1 = trimmed;
    } else if (name == "host-os"_L1) {
        if (m_archive) m_archive->os = trimmed;
    } else if (name == "host-arch"_L1) {
        if (m_archive) m_archive->arch = trimmed;
    } else if (name == "archive"_L1) {
        if (m_current && m_archive) m_current->archives.append(*m_archive);
        m_archive.reset();
    } else if (name == "remotePackage"_L1) {
        if (m_current) packages.append(*m_current);
        m_current.reset();
    }
    m_text.clear();
}
