;;; A sample of Scheme, every line flush left.
(define (describe-it thing port)
"Print THING to PORT.
  This line of the docstring keeps its indentation."
(let ((open #\()
(items '(a b
c d)))
#| A block comment
  spanning lines (with a bracket |#
(display open port)
(display thing port)))

(define (count-up n)
(let loop ((i 0)
(acc '()))
(if (< i n)
(loop (+ i 1)
(cons i acc))
(reverse acc))))

(define-syntax swap!
(syntax-rules ()
((_ a b)
(let ((tmp a))
(set! a b)
(set! b tmp)))))

(begin
(display "done")
(newline))

(call-with-output-string
(lambda (port)
(write 'x port)))

(define (unfinished a
b)
(list a
