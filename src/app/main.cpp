#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Vantry");
  QApplication::setApplicationName("Vantry");
  QLabel window("Vantry");
  window.setAlignment(Qt::AlignCenter);
  window.resize(960, 600);
  window.setWindowTitle("Vantry");
  window.show();
  return app.exec();
}
