#include "application/program_folder.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

// The installed program's folders, as HOME and the XDG variables name them.
class TestProgramFolders : public QObject {
    Q_OBJECT

private slots:
    void userFolders_namedByTheEnvironment_made_data();
    void userFolders_namedByTheEnvironment_made();
};

void TestProgramFolders::userFolders_namedByTheEnvironment_made_data()
{
    // HOME, XDG_DATA_HOME and XDG_CONFIG_HOME, unset when null, under a temporary folder T when
    // absolute; the folders, under T, or what is reported when they cannot be found or made.
    QTest::addColumn<QByteArrayList>("environment");
    QTest::addColumn<QByteArrayList>("folders");
    QTest::addColumn<QString>("failure");
    QTest::newRow("defaults") << QByteArrayList{"/home", {}, {}}
                              << QByteArrayList{"/home/.local/share/quillmarch", "/home/.config/quillmarch"} << "";
    QTest::newRow("set, in any bytes") << QByteArrayList{"/home", "/d\xf6/", "/c"}
                                       << QByteArrayList{"/d\xf6/quillmarch", "/c/quillmarch"} << "";
    QTest::newRow("relative, passed over")
        << QByteArrayList{"/home", "d", "c"}
        << QByteArrayList{"/home/.local/share/quillmarch", "/home/.config/quillmarch"} << "";
    QTest::newRow("no home") << QByteArrayList{{}, {}, {}} << QByteArrayList() << "";
    // Nothing is made, the configuration's folder neither.
    QTest::newRow("a file in the way") << QByteArrayList{"/home", "/file", {}}
                                       << QByteArrayList{"/file/quillmarch", "/home/.config/quillmarch"}
                                       << "Quillmarch cannot make the folder T/file/quillmarch, where it keeps "
                                          "stock.mdb (Not a directory). Nothing was written.";
}

void TestProgramFolders::userFolders_namedByTheEnvironment_made()
{
    QFETCH(QByteArrayList, environment);
    QFETCH(QByteArrayList, folders);
    QFETCH(QString, failure);
    QTemporaryDir temporary;
    const QByteArray t = QFile::encodeName(temporary.path());
    // Qt cannot remove a name that is not UTF-8.
    temporary.setAutoRemove(false);
    const auto remove = qScopeGuard([&] { std::filesystem::remove_all(t.toStdString()); });
    QFile(temporary.filePath("file")).open(QIODevice::WriteOnly);
    const char *const names[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
    for (int i = 0; i < 3; ++i)
        environment[i].isNull()
            ? qunsetenv(names[i])
            : qputenv(names[i], environment[i].startsWith('/') ? t + environment[i] : environment[i]);
    const std::optional<ProgramFolders> found = programFolders(Placement::UserFolders);
    QCOMPARE(found.has_value(), !folders.isEmpty());
    if (!found)
        return;
    QCOMPARE(QByteArray::fromStdString(found->data), t + folders[0]);
    QCOMPARE(QByteArray::fromStdString(found->configuration), t + folders[1]);
    const std::optional<std::string> problem = makeProgramFolders(*found);
    QCOMPARE(QString::fromStdString(problem.value_or("")).replace(temporary.path(), "T"), failure);
    QCOMPARE(std::filesystem::is_directory(found->data), failure.isEmpty());
    QCOMPARE(std::filesystem::is_directory(found->configuration), failure.isEmpty());
}

QTEST_GUILESS_MAIN(TestProgramFolders)
#include "test_program_folders.moc"
