#pragma once

// The "How to make it work" advice of one document as the main window's dock shows it: the
// search's summary, the proposed changes ranked (what each changes, whether it reaches the rates
// asked, the rates it works up to and its least margin), and for the picked change the deciding
// station's eye today and after the change. Apply hands the picked change to the command, which
// sets it in the document.

#include <QWidget>
#include <functional>
#include <vector>

#include "advice/AdviceSearch.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace busweave {

class TEyeView;

class TAdvicePanel : public QWidget {
  Q_OBJECT

 public:
  explicit TAdvicePanel(QWidget* Parent = nullptr);

  // A finished search: its summary and proposals; the first proposal is picked.
  void ShowAdvice(const TAdvice& Advice);
  // No advice (searching, cancelled, failed): the table and eyes empty, the text in their place.
  void ShowMessage(const QString& Text);
  // A line above the advice shown, in place of the one before ("searching again", "applied").
  void ShowNote(const QString& Text);
  // The advice shown no longer describes the network: it was edited since the search.
  void MarkOutdated();
  bool HasAdvice() const { return FHasAdvice; }

  const std::vector<TProposal>& ProposalList() const { return FProposals; }
  // The picked proposal's row, none when no row is picked.
  std::optional<std::size_t> Picked() const;
  QString Summary() const;

  QLabel* SummaryLabel;
  QTableWidget* Proposals;  // rank, change, reaches, arbitration up to, data up to, margin
  QLabel* ProposalText;     // the picked proposal in a sentence
  TEyeView* BeforeEyes;     // the deciding station's eye at the target data rate today
  TEyeView* AfterEyes;      // the same after the picked change
  QPushButton* ApplyButton;

  // Apply was pressed with this proposal picked (an index into ProposalList()).
  std::function<void(std::size_t Proposal)> OnApply;

 private:
  void proposalPicked(int Row);

  bool FHasAdvice = false;
  std::vector<TProposal> FProposals;
  std::vector<TEye> FBefore;
  TThresholds FThresholds;
  QString FSummary;  // the advice's own summary, without a note
};

// The change a proposal makes, without the verdict its sentence goes on with.
QString ProposalChangeText(const TProposal& Proposal);

}  // namespace busweave
