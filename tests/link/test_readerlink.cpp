#include "config/appsettings.h"
#include "link/readerlink.h"
#include "support/manualclock.h"
#include "support/manualpump.h"
#include "support/scriptedmessagebox.h"

#include <QTest>

#include "support/fakeport.h"

class TestReaderLink : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(TestReaderLink)
#include "test_readerlink.moc"
