#include <QCoreApplication>
#include <QTranslator>

#include <gtest/gtest.h>

#include "LocalizedString.h"

namespace
{
class OneEntryTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (QByteArrayView(context) == LocalizedStringTable && QByteArrayView(sourceText) == "Cleaning completed.")
            return QStringLiteral("Nettoyage terminé.");
        return {};
    }
    bool isEmpty() const override { return false; }
};
}

TEST(LocalizedString, TranslationOrTheKeyItself)
{
    EXPECT_EQ(LSFK("No translation for this «key»"), "No translation for this «key»");

    OneEntryTranslator translator;
    ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
    EXPECT_EQ(LSFK("Cleaning completed.", "progress window status"), "Nettoyage terminé.");
    EXPECT_EQ(LSFK("Cleaning stopped."), "Cleaning stopped.");
    QCoreApplication::removeTranslator(&translator);
}
