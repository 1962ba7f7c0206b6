#include "app/scale_dialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "series/csv_text.h"
#include "series/scale_file.h"

using namespace meravel;

namespace {

std::optional<double> typed_length(const QLineEdit* field) {
  return parse_length_mm(field->text().toStdString());
}

}  // namespace

std::optional<ScaleAnswer> ask_scale_length(QWidget* parent, double distance_px,
                                            double proposed_mm) {
  QDialog dialog(parent);
  dialog.setObjectName(kScaleDialogName);
  dialog.setWindowTitle(QStringLiteral("Scale"));
  dialog.setModal(true);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(
      new QLabel(QStringLiteral("Length between the two points (%1 px) in millimetres:")
                     .arg(QString::fromStdString(number_with_digits(distance_px, 6))),
                 &dialog));
  auto* field = new QLineEdit(&dialog);
  field->setObjectName(kScaleLengthFieldName);
  layout->addWidget(field);
  auto* photograph_only = new QCheckBox(QStringLiteral("This photograph only"), &dialog);
  photograph_only->setObjectName(kScalePhotographOnlyName);
  layout->addWidget(photograph_only);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  QObject::connect(field, &QLineEdit::textChanged, ok,
                   [ok, field] { ok->setEnabled(typed_length(field).has_value()); });
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  const QString proposed =
      proposed_mm > 0 ? QString::fromStdString(number_with_digits(proposed_mm, 4)) : QString();
  // Selected, so that a length typed replaces the proposal.
  field->setText(proposed);
  field->selectAll();

  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const std::optional<double> length = typed_length(field);
  if (!length) return std::nullopt;  // ENTER cannot accept while OK is disabled; kept safe anyway
  return ScaleAnswer{*length, photograph_only->isChecked(),
                     !proposed.isEmpty() && field->text() == proposed};
}

ScaleStepOutcome set_scale_of_series(const std::string& directory, const std::string& name,
                                     const ScaleClicks& clicks, QWidget* parent,
                                     const MeasuringClock& clock, std::ostream& out) {
  const PointPx first{clicks.first.x, clicks.first.y};
  const PointPx second{clicks.second.x, clicks.second.y};
  const double distance = std::hypot(second.x - first.x, second.y - first.y);
  if (!(distance > 0)) {
    out << "Both ends are on one pixel: the scale was left as it was." << std::endl;
    return {};
  }
  const std::string path = directory + "/" + kScaleFileName;
  const ScaleFile existing = read_scale_file(path);
  if (!existing.problem.empty()) {
    out << "Scale not saved: " << existing.problem << std::endl;
    return {};
  }
  // A scale set on another photograph is proposed, never applied unasked.
  const ScaleLookup in_force = scale_for_photograph(existing.rows, name);
  const bool proposing = in_force.source != ScaleSource::none && in_force.row.file != name &&
                         in_force.row.px_per_mm > 0;
  out << "Please type the length between the two ends in millimetres." << std::endl;
  const std::optional<ScaleAnswer> answer =
      ask_scale_length(parent, distance, proposing ? distance / in_force.row.px_per_mm : 0.0);
  if (!answer) {
    out << "Scale cancelled: the scale was left as it was." << std::endl;
    return {};
  }
  if (proposing && answer->proposal_kept) return {false, in_force.row};
  const ScaleScope scope = answer->photograph_only ? ScaleScope::photograph : ScaleScope::series;
  const std::optional<ScaleRow> row =
      make_scale_row(scope, name, first, second, answer->length_mm, clock());
  if (!row) {
    out << "No scale can be taken from these points: the scale was left as it was." << std::endl;
    return {};
  }
  const ScaleWriteOutcome outcome = append_scale_row(path, *row);
  if (!outcome.saved) {
    out << outcome.failure << std::endl;
    return {};
  }
  out << "Scale set: " << round_trip_number(row->px_per_mm) << " px/mm "
      << (answer->photograph_only ? "for " + name + " only." : std::string("for the series."))
      << std::endl;
  return {true, std::nullopt};
}
