#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <exception>
#include <memory>

#include "app/demo_environment.h"
#include "app/startup_signals.h"
#include "append/form2.h"
#include "connection/form1.h"
#include "connection/profile_store.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    trp::QuitOnTerminationSignals();

    // --demo: a throwaway server with sample databases and profiles of its own, apart from the
    // user's settings; it is stopped when the program ends.
    std::unique_ptr<trp::DemoEnvironment> demo;
    std::unique_ptr<trp::ProfileStore> store;
    try {
        if (QCoreApplication::arguments().contains(QStringLiteral("--demo"))) {
            demo = std::make_unique<trp::DemoEnvironment>();
            store = std::make_unique<trp::ProfileStore>(demo->SettingsFile());
        } else {
            store = std::make_unique<trp::ProfileStore>();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessaline-row-porter: %s\n", e.what());
        return 1;
    }

    trp::Form1 form1(*store);
    form1.Form_Load();
    // The connection screen, unless start-up went straight on to the table selection screen.
    if (!(form1.HasForm2() && form1.form2().isVisible())) form1.show();
    return app.exec();
}
