#include "gui/window/AccessibleNames.h"

#include <QAbstractButton>
#include <QWidget>

namespace qv {

namespace {

// The icon list's pictures, by index.
const char16_t *const kIconMeanings[80] = {u"Чистый лист",
                                           u"Папка",
                                           u"Папка с листом",
                                           u"Папка со звездой",
                                           u"Папка с сердцем",
                                           u"Папка с человеком",
                                           u"Папка с картинками",
                                           u"Папка со ссылкой",
                                           u"Папка с ключом",
                                           u"Папка с инструментом",
                                           u"Лист",
                                           u"Текст",
                                           u"Веб-страница",
                                           u"Лист со звездой",
                                           u"Лист с картинкой",
                                           u"Код",
                                           u"Записка",
                                           u"Отчёт",
                                           u"Книга",
                                           u"Открытая книга",
                                           u"Глобус",
                                           u"Глобус со ссылкой",
                                           u"Ссылка",
                                           u"Дом",
                                           u"Лента новостей",
                                           u"HTML",
                                           u"Сценарий",
                                           u"Газета",
                                           u"База данных",
                                           u"Сервер",
                                           u"Звезда",
                                           u"Сердце",
                                           u"Красный флажок",
                                           u"Зелёный флажок",
                                           u"Синий флажок",
                                           u"Жёлтый флажок",
                                           u"Синяя метка",
                                           u"Красная метка",
                                           u"Золотая медаль",
                                           u"Наградная лента",
                                           u"Человек",
                                           u"Женщина",
                                           u"Группа",
                                           u"Визитная карточка",
                                           u"Письмо",
                                           u"Телефон",
                                           u"Телефонный аппарат",
                                           u"Сообщение",
                                           u"Здание",
                                           u"Карта",
                                           u"Гаечный ключ",
                                           u"Шестерёнка",
                                           u"Ключ",
                                           u"Замок",
                                           u"Компьютер",
                                           u"Монитор",
                                           u"Принтер",
                                           u"Фотоаппарат",
                                           u"Музыка",
                                           u"Фильм",
                                           u"Картинка",
                                           u"Картинки",
                                           u"Календарь",
                                           u"Часы",
                                           u"Дата",
                                           u"Лампочка",
                                           u"Молния",
                                           u"Колокольчик",
                                           u"Деньги",
                                           u"Корзина",
                                           u"Автомобиль",
                                           u"Грузовик",
                                           u"Чашка",
                                           u"Торт",
                                           u"Жук",
                                           u"Информация",
                                           u"Ошибка",
                                           u"Вопрос",
                                           u"Галочка",
                                           u"Солнце"};

struct Named {
    const char *objectName;
    const char16_t *name;
    const char16_t *description;
};

const Named kNamed[] = {
    {"TreeView1", u"Дерево узлов",
     u"Узлы каталога; стрелки переходят от узла к узлу, F6 переводит в заметку."},
    {"RxRichEdit1", u"Заметка", u"Текст заметки выбранного узла; адреса в нём - ссылки."},
    {"findField", u"Поиск", u"Текст, который ищется в названиях и заметках узлов."},
    {"findCount", u"Найдено", u"Сколько узлов найдено."},
    {"Panel3", u"Значки", u"Выбор значка для выбранного узла."},
    {"Image4", u"Показать или скрыть значки", {}},
    {"Panel4", u"Настройки", u"Шрифты, цвета и поведение программы."},
    {"Panel7", u"О программе", u"Сведения о программе и о папке каталога."},
    {"Panel1", u"Дерево", {}},
    {"Panel2", u"Заметка", {}},
    {"StatusBar1", u"Строка состояния", {}},
};

} // namespace

QString iconMeaning(int index)
{
    return index >= 0 && index < 80 ? QString::fromUtf16(kIconMeanings[index]) : QString();
}

void nameForScreenReaders(QWidget *window)
{
    for (const Named &n : kNamed) {
        const auto found = window->findChildren<QWidget *>(QString::fromLatin1(n.objectName));
        for (QWidget *w : found) {
            w->setAccessibleName(QString::fromUtf16(n.name));
            if (n.description)
                w->setAccessibleDescription(QString::fromUtf16(n.description));
        }
    }
    // The palette's buttons: bi1..bi79 stand for icons 1..79, bi80 for icon 0.
    for (int number = 1; number <= 80; ++number) {
        auto *button = window->findChild<QAbstractButton *>(QStringLiteral("bi%1").arg(number));
        if (!button)
            continue;
        const int icon = number == 80 ? 0 : number;
        button->setAccessibleName(QStringLiteral(u"Значок: %1").arg(iconMeaning(icon)));
        button->setAccessibleDescription(QStringLiteral(u"Дать выбранному узлу значок %1").arg(icon));
    }
}

} // namespace qv
